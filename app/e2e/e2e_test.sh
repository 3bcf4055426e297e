#!/usr/bin/env bash
# The Windows program itself, end to end under Wine, against the simulator:
# start taxoscope.exe, read the device from its dialog, get the dump and the
# report, close with exit code 0. The report must be the very bytes the
# native taxoscope-cli writes for the same dump. Leaves the screenshot of the
# main dialog as taxoscope-main-dialog.png in the build tree.
#   e2e_test.sh BUILD-DIR NATIVE-SIM NATIVE-CLI
set -euo pipefail

build=$(cd "$1" && pwd)
sim=$(realpath "$2")
cli=$(realpath "$3")
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)

work=$(mktemp -d "$build/e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "e2e: $*" >&2; exit 1; }

# The program keeps its settings beside itself: a copy of its own. Dumps go
# to the current directory.
cp "$build/taxoscope.exe" "$work/"
mkdir "$work/dumps"
windows_work="Z:${work//\//\\}"

cat > "$work/run.sh" <<RUN
#!/usr/bin/env bash
set -uo pipefail
cd "$work/dumps"
"$scripts/wine-run" --prefix "$build/wineprefix" "$work/taxoscope.exe" > "$work/app.out" 2>&1 &
app=\$!
"$scripts/wine-run" --prefix "$build/wineprefix" "$build/drive_taxoscope.exe" \
    "\$TAXOSCOPE_SIM_E2E" "$windows_work\\\\dialog.bmp" > "$work/driver.out" 2>&1
driver=\$?
if [ \$driver -ne 0 ]; then kill \$app 2>/dev/null; fi
wait \$app
echo "exit code: \$?" >> "$work/driver.out"
exit \$driver
RUN
chmod +x "$work/run.sh"

status=0
"$scripts/with-sim" --sim "$sim" --prefix "$build/wineprefix" --device E2E COM30 "--seed 7" "" \
    -- "$work/run.sh" || status=$?
tr -d '\r' < "$work/driver.out" > "$work/driver.txt"  # a Windows program's line ends
cat "$work/driver.txt"
[ $status -eq 0 ] || fail "the dialog was not driven through"

cd "$work/dumps"
grep -Fqx "message: Parse successfull" "$work/driver.txt" || fail "no completion message"
grep -Fqx "caption: Taxoscope" "$work/driver.txt" || fail "the completion message does not name the program"
grep -Fqx "button: Read" "$work/driver.txt" || fail "Read did not come back"
grep -Fqx "file: $windows_work\\dumps\\123456.bin" "$work/driver.txt" || fail "wrong dump path in the dialog"
grep -Fqx "exit code: 0" "$work/driver.txt" || fail "taxoscope.exe did not exit with 0"
"$sim" generate --seed 7 --out "$work/served.bin" >/dev/null
cmp -s 123456.bin "$work/served.bin" || fail "the dump is not the device's image"
cp 123456.bin native.bin
"$cli" report native.bin >/dev/null 2>&1 || fail "the native report failed"
cmp -s 123456.bin.txt native.bin.txt || fail "the report differs from the native one"
grep -q '^Port=COM30' "$work/taxoscope.ini" || fail "the port was not saved"
convert "$work/dialog.bmp" "$build/taxoscope-main-dialog.png" || fail "no screenshot"
echo "e2e: dump, report and settings as expected, exit code 0; screenshot in $build/taxoscope-main-dialog.png"
