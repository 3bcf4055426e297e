#!/usr/bin/env python3
"""The server's pages in a real browser: Debian's chromium, headless, loads
`/` and a register's page from a running taxoscope-server (the read token in
the address's fragment, which the page's script keeps in session storage and
sends as Authorization: Bearer), and the monthly table it shows must be the
table of `taxoscope-cli ledger summary` on the server's ledger, cell for cell.
The policy must refuse nothing the page needs; a screenshot must show it.

  server_pages_test.py SERVER CLI SIM WORK [SCREENSHOT]
"""
import html.parser
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


class Tables(html.parser.HTMLParser):
    """Every table of a page: a list of rows of cell texts, with the heading
    (h1/h2) that came before it."""

    def __init__(self):
        super().__init__()
        self.tables, self.heading, self.text, self.cell, self.in_heading = [], "", "", None, False

    def handle_starttag(self, tag, attrs):
        if tag in ("h1", "h2"):
            self.in_heading, self.text = True, ""
        elif tag == "table":
            self.tables.append((self.heading, []))
        elif tag == "tr" and self.tables:
            self.tables[-1][1].append([])
        elif tag in ("td", "th"):
            self.cell = ""

    def handle_endtag(self, tag):
        if tag in ("h1", "h2"):
            self.in_heading, self.heading = False, self.text.strip()
        elif tag in ("td", "th") and self.cell is not None and self.tables:
            self.tables[-1][1][-1].append(self.cell.strip())
            self.cell = None

    def handle_data(self, data):
        if self.in_heading:
            self.text += data
        if self.cell is not None:
            self.cell += data


def month_table(page):
    parser = Tables()
    parser.feed(page)
    for heading, rows in parser.tables:
        if heading == "Оборот по месеци":
            # Two header rows; each data row ends with the total turnover and tax.
            return [row[:-2] for row in rows[2:]]
    return None


def summary_rows(cli, ledger, *options):
    text = subprocess.run([cli, "ledger", "summary", ledger, *options], check=True, capture_output=True,
                          text=True).stdout
    return [re.split(r" {2,}", line.strip()) for line in text.splitlines()[1:]]


def start_server(server, state, log):
    process = subprocess.Popen([server, "serve", "--state", state, "--listen", "127.0.0.1:0"],
                               stderr=open(log, "w"))
    for _ in range(1000):
        found = re.search(r"listening on http://127\.0\.0\.1:(\d+)", open(log).read())
        if found:
            return process, int(found.group(1))
        if process.poll() is not None:
            break
        time.sleep(0.01)
    process.kill()
    raise SystemExit("the server did not start: " + open(log).read())


def chromium(work, url, *extra):
    browser = shutil.which("chromium")
    with tempfile.TemporaryDirectory(dir=work) as profile:
        done = subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                               "--no-first-run", "--disable-background-networking", "--disable-component-update",
                               "--disable-sync", "--hide-scrollbars", f"--user-data-dir={profile}",
                               "--virtual-time-budget=10000", "--enable-logging=stderr", "--v=0", *extra, url],
                              capture_output=True, text=True, timeout=120)
    return done.stdout, done.stderr


def main():
    server, cli, sim, work = sys.argv[1:5]
    screenshot = sys.argv[5] if len(sys.argv) > 5 else None
    if not shutil.which("chromium"):
        print("FAILED: chromium not installed (scripts/install-deps.sh)")
        return 1
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    state = os.path.join(work, "state")
    reader = subprocess.run([server, "token", "add", "accountant", "--role", "read", "--state", state],
                            check=True, capture_output=True, text=True).stdout.strip()
    office = subprocess.run([server, "token", "add", "office", "--role", "upload", "--state", state],
                            check=True, capture_output=True, text=True).stdout.strip()
    token_file = os.path.join(work, "office.token")
    open(token_file, "w").write(office + "\n")
    dumps = []
    for seed, device in ((7, "DV000007"), (8, "DV000008"), (9, "<b>Каса&\"")):
        dump = os.path.join(work, device + ".bin")
        subprocess.run([sim, "generate", "--seed", str(seed), "--reports", "300", "--out", dump], check=True,
                       capture_output=True)
        dumps.append(dump)
    process, port = start_server(server, state, os.path.join(work, "server.log"))
    try:
        base = f"http://127.0.0.1:{port}"
        subprocess.run([cli, "send", base, *dumps, "--token-file", token_file], check=True, capture_output=True)
        ledger = os.path.join(state, "ledger.db")

        page, log = chromium(work, f"{base}/#token={reader}", "--dump-dom")
        check(month_table(page) == summary_rows(cli, ledger), "the page's monthly table is ledger summary's")
        check("/devices/%3Cb%3E%D0%9A%D0%B0%D1%81%D0%B0%26%22" in page, "a link to each register, its id encoded")
        check("&lt;b&gt;Каса&amp;\"" in page and "<b>Каса" not in page, "a register's id is text, not markup")
        check(page.count("<rect") > 20, "the chart is on the page")
        check(reader not in page, "the token is not in the page")
        check("Refused to" not in log, "the page's policy refuses nothing it needs: " +
              "; ".join(line for line in log.splitlines() if "Refused to" in line))

        page, log = chromium(work, f"{base}/devices/DV000008#token={reader}", "--dump-dom")
        check(month_table(page) == summary_rows(cli, ledger, "--device", "DV000008"),
              "a register's monthly table is its ledger summary's")
        check("<h2>Получени файлове</h2>" in page and "DV000008.bin" in page, "the register's uploads")

        # Without a token: the form for one, and no figure.
        page, log = chromium(work, f"{base}/", "--dump-dom")
        check('id="token-form"' in page and month_table(page) is None, "without a token, only the form")

        png = os.path.join(work, "page.png")
        chromium(work, f"{base}/#token={reader}", f"--screenshot={png}", "--window-size=1200,1600")
        data = open(png, "rb").read() if os.path.exists(png) else b""
        check(data.startswith(b"\x89PNG\r\n\x1a\n") and len(data) > 20000, "a screenshot of the page")
        if screenshot and data:
            shutil.copyfile(png, screenshot)
    finally:
        process.send_signal(signal.SIGTERM)
        check(process.wait(timeout=30) == 0, "the server ends cleanly on SIGTERM")
    log = open(os.path.join(work, "server.log")).read()
    check(reader not in log and office not in log, "no token in the server's log")
    for failure in failures:
        print("FAILED:", failure)
    print("pages:", "FAILED" if failures else "ok")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
