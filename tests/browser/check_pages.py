#!/usr/bin/env python3
"""The HTML page (--html) of a few examples/ scenarios, loaded in Debian's Chromium, headless.

For each page of pages.json: the program runs the scenario (a file of the repository, or the machine itself)
with --report, --html and the page's args; the page of the stored
report (--from-report) must be the run's page byte for byte; Chromium renders the page, and what its DOM
shows (each port's verdict and test results, each bridge's state and colour, each rate cell, the wrong
inputs of the control-signal combinations) must be what the entry expects; and its screenshot must be a PNG
of many colours, not a blank page. Where Chromium is not installed (tests/browser/install-deps.sh) the
browser part is skipped with exit status 77, after the byte-for-byte checks.

  check_pages.py --program PROGRAM            compare; exit 1 on any difference
  check_pages.py --program PROGRAM --update   write what the pages show into pages.json
"""
import argparse, html.parser, json, os, shutil, struct, subprocess, sys, tempfile, zlib

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
CHROMIUM = shutil.which("chromium")
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--no-first-run", "--hide-scrollbars"]


class Shown(html.parser.HTMLParser):
    """What the page's data- attributes say, per port: {"COM1": {"verdict", "tests", "bridges", "rates", "wrong"}}."""

    def __init__(self):
        super().__init__()
        self.ports, self.port, self.figure = {}, None, None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if "data-device" in a:
            self.port = self.ports.setdefault(a["data-device"], {"verdict": a["data-verdict"], "tests": {},
                                                                 "bridges": {}, "rates": {}, "wrong": {}})
        elif tag == "figure" and "data-test" in a:
            self.figure = a["data-test"]
        elif "data-result" in a:
            self.port["tests"][a["data-test"]] = a["data-result"]
        elif tag == "path" and "data-bridge" in a:
            self.port["bridges"][a["data-bridge"]] = a["data-state"] + " " + a["stroke"]
        elif "data-rate" in a:
            cells = self.port["rates"].get(self.figure, "")
            self.port["rates"][self.figure] = (cells + " " if cells else "") + a["data-rate"] + ":" + a["data-state"]
        elif a.get("data-wrong"):
            self.port["wrong"][a["data-combination"]] = a["data-wrong"]


def colours(png):
    """The distinct colours of an 8-bit RGB or RGBA PNG without interlace, as Chromium writes screenshots."""
    data, pos, idat = open(png, "rb").read(), 8, b""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        if kind == b"IHDR":
            width, height, _, colour_type = struct.unpack(">IIBB", data[pos + 8:pos + 18])
            n = {2: 3, 6: 4}[colour_type]
        idat += data[pos + 8:pos + 8 + length] if kind == b"IDAT" else b""
        pos += 12 + length
    raw, stride, seen, above = zlib.decompress(idat), width * n, set(), bytearray(width * n)
    for y in range(height):
        start = y * (stride + 1)
        kind, row = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride if kind else 0):  # undo the row's filter: None, Sub, Up, Average, Paeth
            a, b, c = row[i - n] if i >= n else 0, above[i], above[i - n] if i >= n else 0
            p = a + b - c
            guess = (a, b, (a + b) // 2, a if abs(p - a) <= min(abs(p - b), abs(p - c)) else
                     b if abs(p - b) <= abs(p - c) else c)[kind - 1]
            row[i] = (row[i] + guess) & 255
        seen.update(bytes(row[i:i + n]) for i in range(0, stride, n))
        above = row
    return len(seen)


def chromium(folder, *args):
    profile = tempfile.mkdtemp(dir=folder)  # a fresh profile each time: nothing carries over
    done = subprocess.run([CHROMIUM, *FLAGS, f"--user-data-dir={profile}", *args], capture_output=True,
                          text=True, timeout=120, cwd=folder)
    return done.stdout


def check(page, program, folder):
    """Problems of one entry of pages.json, and what its page showed."""
    args, scenario = page.get("args", []), page["scenario"]
    sets = [part for i, arg in enumerate(args) if arg == "--set" for part in args[i:i + 2]]  # the run's BaudRates
    if isinstance(scenario, dict):  # a machine of its own, written out as the case runner does
        json.dump(scenario, open(os.path.join(folder, "scenario.json"), "w"))
    scenario = "scenario.json" if isinstance(scenario, dict) else os.path.join(REPO, scenario)
    run = [program, "--sim", scenario, "--answer", "ok", "-q", "--report", "r.json", "--html", "run.html"]
    subprocess.run(run + args, cwd=folder, capture_output=True)
    subprocess.run([program, "--from-report", "r.json", "--html", "stored.html"] + sets, cwd=folder, check=True)
    page_bytes = open(os.path.join(folder, "run.html"), "rb").read()
    problems = [] if page_bytes == open(os.path.join(folder, "stored.html"), "rb").read() else [
        "the page of the stored report differs from the run's page"]
    if not CHROMIUM:
        return problems, None
    url = "file://" + os.path.join(folder, "run.html")
    parser = Shown()
    parser.feed(chromium(folder, "--dump-dom", url))
    chromium(folder, "--window-size=1000,1100", "--screenshot=" + os.path.join(folder, "shot.png"), url)
    count = colours(os.path.join(folder, "shot.png")) if os.path.exists(os.path.join(folder, "shot.png")) else 0
    if count < 100:
        problems.append(f"the screenshot has {count} colours: a blank page?")
    return problems, parser.ports


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--update", action="store_true")
    a = ap.parse_args()
    path = os.path.join(HERE, "pages.json")
    pages, failed = json.load(open(path)), 0
    for page in pages["pages"]:
        with tempfile.TemporaryDirectory(prefix="tarn-page-") as folder:
            problems, shown = check(page, os.path.abspath(a.program), folder)
        if shown is not None and a.update:
            page["expect"] = shown
        elif shown is not None and shown != page["expect"]:
            problems.append("shows " + json.dumps(shown, indent=1) + "\nexpected " + json.dumps(page["expect"], indent=1))
        failed += len(problems)
        for problem in problems:
            print(f"FAIL {page['name']}: {problem}")
    if a.update:
        json.dump(pages, open(path, "w"), indent=1)
        open(path, "a").write("\n")
    print(f"pages.json: {len(pages['pages'])} pages, {failed} differences")
    if not CHROMIUM:
        print("browser checks skipped: Debian's chromium is not installed (tests/browser/install-deps.sh)")
        return 77 if not failed else 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
