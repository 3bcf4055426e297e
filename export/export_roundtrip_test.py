#!/usr/bin/env python3
"""taxoscope-cli export and info on generated dumps, read back with Python's
csv module and held against the text report of the same dump; the HTML page
rendered by headless Chromium.

  export_roundtrip_test.py csv  CLI SIM WORKDIR
  export_roundtrip_test.py html CLI SIM WORKDIR [SCREENSHOT]
"""
import csv
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
from decimal import Decimal

CENT = Decimal("0.01")
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def run(*args, **kwargs):
    return subprocess.run(args, check=True, capture_output=True, **kwargs).stdout


def text_report_totals(path):
    """The totals block of DUMP.txt: groups with tax, departments, payments."""
    text = open(path, "rb").read().decode("cp1251", errors="replace")
    totals = text[text.index("Оборот:\r\n_"):]
    groups = [Decimal(v) for v in re.findall(r"Дан гр\. \d: (\S+)\r\n", totals)]
    tax = [Decimal(v) for v in re.findall(r"    Данък: (\S+)\r\n", totals)]
    departments = [Decimal(v) for v in re.findall(r"Деп\. \d: (\S+)\r\n", totals)]
    payments = [Decimal(v) for v in re.findall(r"Плащане +\d+ .{6}: (\S+)\r\n", totals)]
    return groups, tax, departments, payments, text.count("WARNING: Грешка CRC.")


def read_csv(data, delimiter=",", decimal="."):
    """Rows as dicts; amounts as Decimal."""
    check(data.endswith(b"\r\n") and b"\n" not in data.replace(b"\r\n", b""), "CSV lines end in CR LF")
    rows = list(csv.DictReader(io.StringIO(data.decode("utf-8"), newline=""), delimiter=delimiter))
    for row in rows:
        for key, value in row.items():
            if re.fullmatch(r"(group|tax|department|payment)_\d+", key):
                check(re.fullmatch(r"\d+" + re.escape(decimal) + r"\d\d", value), f"{key}={value!r}: two decimals")
                row[key] = Decimal(value.replace(decimal, "."))
    return rows


def column_sums(rows, prefix, count, first=1):
    return [sum((row[f"{prefix}{i}"] for row in rows), Decimal(0)) for i in range(first, first + count)]


def generate_damaged(sim, dump, seed, reports):
    """A generated dump whose first daily report has one amount bit flipped
    after its CRC was made: the walk warns and counts it all the same."""
    run(sim, "generate", "--out", dump, "--seed", str(seed), "--reports", str(reports))
    image = bytearray(open(dump, "rb").read())
    first_report = image.index(bytes([4]), 86)  # the model record and rates come first
    image[first_report + 7] ^= 0x01
    open(dump, "wb").write(image)
    return image


def csv_check(cli, sim, work):
    dump = os.path.join(work, "full.bin")
    image = generate_damaged(sim, dump, 11, 700)

    run(cli, "report", dump)
    groups, tax, departments, payments, warnings = text_report_totals(dump + ".txt")
    check(len(groups) == 8 and len(departments) == 9 and len(payments) == 11, "text report totals read")

    run(cli, "export", dump)
    rows = read_csv(open(dump + ".csv", "rb").read())
    check(len(rows) > 600, f"{len(rows)} reports")
    check(column_sums(rows, "group_", 8) == groups, "CSV groups add up to the report's totals")
    check(column_sums(rows, "department_", 9) == departments, "CSV departments add up")
    check(column_sums(rows, "payment_", 11, 0) == payments, "CSV payments add up")
    # Each report's tax is rounded to the cent: the sum may stray by half a cent a report.
    for got, want in zip(column_sums(rows, "tax_", 8), tax):
        check(abs(got - want) <= Decimal(len(rows)) * Decimal("0.005"), f"CSV tax {got} near {want}")
    check(sum(row["crc_ok"] == "0" for row in rows) == warnings == 1, "one damaged report")
    check({row["decimal_point"] for row in rows} <= {"fractional", "whole", "error"}, "decimal_point words")

    # The monthly table: ascending months, its counts and sums from the per-report rows.
    months = read_csv(run(cli, "export", dump, "--months", "--out", "-"))
    by_month = {}
    for row in rows:
        by_month.setdefault(row["date"][:7], []).append(row)
    check([m["month"] for m in months] == sorted(by_month), "months ascending, one row each")
    for month in months:
        reports = by_month.get(month["month"], [])
        numbers = [int(r["report"]) for r in reports]
        check(month["reports"] == str(len(numbers)), f"{month['month']}: report count")
        check((month["first_report"], month["last_report"]) == (str(numbers[0]), str(numbers[-1])),
              f"{month['month']}: first and last report")
        for prefix, count, first in (("group_", 8, 1), ("department_", 9, 1), ("payment_", 11, 0)):
            for i in range(first, first + count):
                want = sum((r[f"{prefix}{i}"] for r in reports), Decimal(0))
                check(month[f"{prefix}{i}"] == want, f"{month['month']} {prefix}{i}")
        for i in range(1, 9):
            want = sum((r[f"tax_{i}"] for r in reports), Decimal(0))
            check(abs(month[f"tax_{i}"] - want) <= Decimal(len(reports)) * Decimal("0.005"),
                  f"{month['month']} tax_{i}")
    check(column_sums(months, "group_", 8) == groups, "monthly groups add up to the totals")

    # --excel: the same table, as Excel opens it.
    excel = run(cli, "export", dump, "--months", "--excel", "--out", "-")
    check(excel.startswith(b"\xef\xbb\xbf"), "byte-order mark")
    check(read_csv(excel[3:], delimiter=";", decimal=",") == months, "--excel holds the same rows")

    # info: the same walk seen by a technician.
    info = run(cli, "info", dump).decode("utf-8").splitlines()
    keys = [line.split(": ", 1)[0] for line in info]
    check(keys == ["file", "size", "model variant", "daily reports", "report numbers", "dates", "crc failures",
                   "unknown records", "decimal-mode changes", "tax-rate records", "record area", "findings"],
          f"info keys {keys}")
    values = dict(line.split(": ", 1) for line in info)
    check(values["size"] == str(len(image)) and values["daily reports"] == str(len(rows)), "info size, reports")
    check(values["report numbers"] == f"{rows[0]['report']}-{rows[-1]['report']}", "info report numbers")
    check(values["dates"] == f"{rows[0]['date']} - {rows[-1]['date']}", "info dates")
    check(values["crc failures"] == str(warnings), "info crc failures: the report's warnings")
    check(re.fullmatch(r"(100|[1-9]?[0-9])\.[0-9]% written", values["record area"]) is not None,
          f"info record area of a whole image: {values['record area']}")
    # findings: the counts of taxoscope-cli check over the same walk, whose
    # crc findings are the report's warnings.
    checked = subprocess.run([cli, "check", dump, "--format", "json"], capture_output=True)
    found = json.loads(checked.stdout)
    counts = found["counts"]
    def count(n, thing):
        return f"{n} {thing}" + ("" if n == 1 else "s")
    check(values["findings"] == ", ".join([count(counts["error"], "error"), count(counts["warning"], "warning"),
                                          count(counts["info"], "note")]),
          "info findings: the check's counts")
    check(sum(f["kind"] == "crc" for f in found["findings"]) == warnings, "check crc findings: the report's warnings")
    check(checked.returncode == (11 if counts["error"] else 10 if counts["warning"] else 0), "check exit status")
    print(f"{len(rows)} daily reports in {len(months)} months read back")


def html_check(cli, sim, work, screenshot):
    dump = os.path.join(work, "DV000042.bin")
    generate_damaged(sim, dump, 7, 400)
    run(cli, "export", "DV000042.bin", "--format", "html", cwd=work)
    page = open(dump + ".html", encoding="utf-8").read()
    check(not re.search(r"<script|<link|\bsrc=|url\(|@import", page), "the page needs no other file")
    check(page.count("<rect") > 40 and "Дан гр. 1" in page, "chart bars and Bulgarian labels")
    check(page.count("WARNING: Грешка CRC. Отчет# ") == 1, "a line for the damaged report")

    chromium = shutil.which("chromium")
    if not chromium:
        failures.append("chromium not installed (scripts/install-deps.sh)")
        return
    png = os.path.join(work, "page.png")
    with tempfile.TemporaryDirectory(dir=work) as profile:
        subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                        "--disable-background-networking", "--disable-component-update", "--disable-sync",
                        "--hide-scrollbars", f"--user-data-dir={profile}", f"--screenshot={png}",
                        "--window-size=1040,1500", "file://" + os.path.abspath(dump + ".html")],
                       check=True, capture_output=True, timeout=120)
    data = open(png, "rb").read() if os.path.exists(png) else b""
    check(data.startswith(b"\x89PNG\r\n\x1a\n"), "the screenshot is a PNG")
    # Not blank: the page's ink (text, table rules, bars) covers a fair share of it.
    stats = run("convert", png, "-colorspace", "gray", "-format", "%[fx:mean] %[fx:standard_deviation]", "info:")
    mean, deviation = (float(v) for v in stats.split())
    check(0.5 < mean < 0.98 and deviation > 0.1, f"screenshot not blank (mean {mean}, deviation {deviation})")
    if screenshot:
        shutil.copyfile(png, screenshot)


def main():
    mode, cli, sim, work = sys.argv[1:5]
    os.makedirs(work, exist_ok=True)
    if mode == "csv":
        csv_check(cli, sim, work)
    else:
        html_check(cli, sim, work, sys.argv[5] if len(sys.argv) > 5 else None)
    for failure in failures:
        print("FAILED:", failure)
    print(f"{mode}: {'FAILED' if failures else 'ok'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
