#!/usr/bin/env python3
"""Runs the program on the cases of one case file and compares what it did with what the file expects.

A case file holds {"about": ..., "args": [...], "scenario": {...}, "cases": [{...}, ...]}. Each case may
give "scenario" (a simulated machine, written to scenario.json and passed as --sim scenario.json), "files"
(more input files: name -> text or JSON), "args" (after the file's own), and "expect", whose keys say what
is compared: "exit", "stdout", "stderr" (lists of lines), "report" (report.json), "junit" (junit.xml),
"calls" (the seam calls in record.jsonl, only those named in "callFilter" when it is given),
"recordLines" (how many lines record.jsonl holds after its first: what its repeat lines save shows here), "files" (each
file in the run folder afterwards, with its size), "screen" (what a terminal shows at the end), "page" (a
file of the repository that page.html must equal, one tag per line, its stylesheet and this machine's name,
system, dates and real times masked). The program
runs in a fresh folder holding the inputs, with "env" added to its environment. "terminal": {"columns": N}
runs it on a pseudo-terminal N columns wide (standard output and error both; with "input", a list of
answers, standard input too: each answer is typed when the next "[O/c]" prompt shows; "^C" sends an
interrupt there instead, as Ctrl-C on a terminal would).
Real times ("0.15 s real") vary from run to run and are compared as "#.## s real", and so do a report's
host, os and realSeconds, which are left out. Every report.json a case
writes is checked against docs/report.schema.json when python3-jsonschema is installed.

  run_cases.py CASEFILE --program PROGRAM [PREFIX ...]     compare; exit 1 on any difference
  run_cases.py CASEFILE ... --update                        write what the program did into "expect"
"""
import argparse, difflib, fcntl, gzip, json, os, platform, pty, re, select, signal, struct, subprocess, sys, tempfile, termios, time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
VOLATILE = {"startedAt", "endedAt", "host", "realSeconds", "os"}  # keys of a report that vary run to run


def schema_check():
    """Problems of a report against the published schema; None when the checker is not installed."""
    try:
        import jsonschema
    except ImportError:
        return None
    schema = json.load(open(os.path.join(REPO, "docs", "report.schema.json")))
    validator = jsonschema.Draft202012Validator(schema)
    return lambda report: [f"{'/'.join(map(str, e.absolute_path))}: {e.message}" for e in validator.iter_errors(report)]


SCHEMA = schema_check()


def text_lines(raw):
    raw = raw.replace("\r\n", "\n")
    raw = re.sub(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?Z", "<time>", raw)
    raw = re.sub(r"\d+\.\d\d s real", "#.## s real", raw)
    raw = re.sub(r'"(host|os|realSeconds)": ?("[^"]*"|[0-9.]+)', r'"\1": *', raw)  # a report on standard output
    return raw.split("\n")[:-1] if raw.endswith("\n") else raw.split("\n") if raw else []


def without_volatile(value):
    if isinstance(value, dict):
        return {k: without_volatile(v) for k, v in value.items() if k not in VOLATILE}
    if isinstance(value, list):
        return [without_volatile(v) for v in value]
    return value


def file_bytes(content):
    """An input file: text; {"hex": ...} for bytes that are not text; {"repeat": UNIT, "count": N, "prefix",
    "suffix"} for inputs too big to keep here; {"gunzip": PATH} for a gzipped file of the repository (the
    recordings of tests/replay); anything else is written as JSON."""
    if isinstance(content, str):
        return content.encode("utf-8")
    if isinstance(content, dict) and "gunzip" in content:
        return gzip.decompress(open(os.path.join(REPO, content["gunzip"]), "rb").read())
    if isinstance(content, dict) and "hex" in content:
        return bytes.fromhex(content["hex"])
    if isinstance(content, dict) and "repeat" in content:
        text = content.get("prefix", "") + content["repeat"] * content["count"] + content.get("suffix", "")
        return text.encode("utf-8")
    return json.dumps(content).encode("utf-8")


def calls(path, names):
    """The recorded calls, repeats written out, only those named when names are given. The framework's
    inputs ("input" lines: prompt answers, stop checks) are no calls, but a repeat line counts them."""
    if not os.path.exists(path):
        return None
    wanted = lambda entry: "call" in entry and (not names or entry["call"] in names)
    out, recent = [], []  # recent: the last lines, named or not, that a repeat line may refer to
    for line in list(open(path, encoding="utf-8"))[1:]:
        entry = json.loads(line)
        if "repeat" in entry:
            out += [call for call in recent[-entry["of"]:] if wanted(call)] * entry["repeat"]
        else:
            recent = recent[-3:] + [entry]
            out += [entry] if wanted(entry) else []
    return out


def screen(raw, columns):
    """What a terminal of this width shows after raw: carriage returns, line feeds, erase to the end of the
    line, lines that wrap at the last column; colour sequences kept as <N> before the character they colour."""
    rows, row, col, pending = [], [], 0, ""
    for m in re.finditer(r"\x1b\[([0-9;]*)([A-Za-z])|\r|\n|[^\x1b\r\n]", raw):
        token, final = m.group(0), m.group(2)
        if token == "\r":
            col = 0
        elif token == "\n":
            rows.append(row + [pending])
            row, col, pending = [], 0, ""
        elif final == "K":
            del row[col:]
        elif final == "m":
            pending += f"<{m.group(1) or 0}>"
        elif not final:
            if col == columns:
                rows.append(row)
                row, col = [], 0
            row += [" "] * (col + 1 - len(row))
            row[col], pending, col = pending + token, "", col + 1
    rows += [row + [pending]] if row or pending else []
    return text_lines("\n".join("".join(r).rstrip() for r in rows) + "\n")


def page_lines(html):
    """A page as lines to compare: one tag per line; what differs from machine to machine and run to run
    masked. The system is masked only where it reads as uname gives it, so a wrong one still shows."""
    html = re.sub(r"<style>.*?</style>", "<style>*</style>", html, flags=re.S)  # the browser tests check it
    html = html.replace("><", ">\n<").replace(platform.system() + " " + platform.release(), "<os>")
    html = re.sub(r"<dd>Windows \d+\.\d+\.\d+</dd>", "<dd><os></dd>", html)  # the Windows build, under Wine
    html = re.sub(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC", "<time>", html)
    html = re.sub(r"(<dt>Host</dt>\n<dd>|diagnostic on |<dt>Real time</dt>\n<dd>)[^<\n]*", r"\1*", html)
    html = re.sub(r"(<title>Serial ports of )[^:<\n]*", r"\1*", html)
    return text_lines(html + "\n")


def on_terminal(command, workdir, columns, env, typed=None):
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
    child = subprocess.Popen(command, cwd=workdir, stdin=subprocess.DEVNULL if typed is None else slave,
                             stdout=slave, stderr=slave, env=env)
    # The terminal stays open on this side too. Otherwise the read that follows the program's end fails with
    # EIO, and some kernels report that before the program's last lines have reached this side. Instead,
    # once the program has ended, a mark is written behind its output: when the mark arrives, all has.
    mark = b"\x00end of run\x00"
    answers = list(typed or [])
    raw, marked, deadline = b"", False, time.monotonic() + 300
    while mark not in raw:
        if time.monotonic() > deadline:
            child.kill()
            raise SystemExit(f"{' '.join(command)}: no end after 300 s on the terminal")
        if select.select([master], [], [], 0.05)[0]:
            raw += os.read(master, 65536)
        elif not marked and child.poll() is not None:
            os.write(slave, mark)
            marked = True
        if answers and raw.count(b"[O/c] ") > len(typed) - len(answers):
            answer = answers.pop(0)
            if answer == "^C":
                child.send_signal(signal.SIGINT)
            else:
                os.write(master, answer.encode("utf-8"))
    os.close(slave)
    os.close(master)
    return child.wait(), screen(raw[:raw.index(mark)].decode("utf-8", "replace"), columns)


def run(case, common, program, workdir):
    scenario = case.get("scenario", common.get("scenario"))
    args = list(common.get("args", [])) + list(case.get("args", []))
    if isinstance(scenario, str):  # a scenario file of the repository, e.g. examples/no-plug.json
        scenario = json.load(open(os.path.join(REPO, scenario)))
    if scenario is not None:
        json.dump(scenario, open(os.path.join(workdir, "scenario.json"), "w"))
        args = ["--sim", "scenario.json"] + args
    for name, content in case.get("files", {}).items():
        with open(os.path.join(workdir, name), "wb") as f:
            f.write(file_bytes(content))
    # "@FILE" stands for the content of FILE, for arguments too long or too odd to write here.
    args = [open(os.path.join(workdir, arg[1:]), encoding="utf-8").read() if arg.startswith("@") else arg
            for arg in args]
    # Never a run on this machine's own ports: every case simulates, replays a recording, or only lists,
    # prints or draws a page.
    if not set(args) & {"--sim", "--replay", "--help", "-h", "--version", "--list-tests", "--from-report"}:
        raise SystemExit(f"{case['name']}: refusing a run without --sim")
    expect = case.get("expect", {})
    if "calls" in expect or "recordLines" in expect:
        args = ["--record", "record.jsonl"] + args
    env = {k: v for k, v in os.environ.items() if k != "NO_COLOR"}
    env.update(case.get("env", {}))
    if "terminal" in case:
        code, shown = on_terminal(program + args, workdir, case["terminal"]["columns"], env,
                                  case["terminal"].get("input"))
        got = {"exit": code, "screen": shown}
    else:
        done = subprocess.run(program + args, cwd=workdir, capture_output=True, timeout=300,
                              stdin=subprocess.DEVNULL, env=env)
        got = {"exit": done.returncode,
               "stdout": text_lines(done.stdout.decode("utf-8", "replace")),
               "stderr": text_lines(done.stderr.decode("utf-8", "replace"))}
    got["files"] = {name: os.path.getsize(os.path.join(workdir, name)) for name in sorted(os.listdir(workdir))}
    report = os.path.join(workdir, "report.json")
    got["report"] = json.load(open(report)) if os.path.exists(report) else None
    written = got["report"] is not None and got["exit"] not in (2, 4)  # bad input leaves an old file as it was
    got["schema"] = SCHEMA(got["report"]) if SCHEMA and written else []
    got["report"] = without_volatile(got["report"])
    junit = os.path.join(workdir, "junit.xml")
    got["junit"] = text_lines(open(junit).read()) if os.path.exists(junit) else None
    got["calls"] = calls(os.path.join(workdir, "record.jsonl"), case.get("callFilter"))
    record = os.path.join(workdir, "record.jsonl")
    got["recordLines"] = sum(1 for _ in open(record)) - 1 if os.path.exists(record) else None
    if "page" in expect:
        page = os.path.join(workdir, "page.html")
        got["page"] = page_lines(open(page, encoding="utf-8").read()) if os.path.exists(page) else None
    if got["junit"]:
        got["junit"] = [re.sub(r'(timestamp|hostname|time)="[^"]*"', r'\1="*"', l) for l in got["junit"]]
    return {key: got[key] for key in list(expect) + ["schema"]}


def dump(value, indent=0, key=None):
    """Case files stay readable: one key per line, one timeline entry or call per line."""
    flat = json.dumps(value, ensure_ascii=False)
    pad, end = " " * (indent + 2), "\n" + " " * indent
    if len(flat) + indent <= 110 and key not in ("timeline", "calls"):
        return flat
    if isinstance(value, list) and value:
        one_line = key in ("timeline", "calls", "stdout", "stderr", "junit", "screen") or not isinstance(value[0], dict)
        items = [json.dumps(v, ensure_ascii=False) if one_line else dump(v, indent + 2) for v in value]
        return "[\n" + ",\n".join(pad + item for item in items) + end + "]"
    if isinstance(value, dict) and value:
        items = [pad + json.dumps(k) + ": " + dump(v, indent + 2, k) for k, v in value.items()]
        return "{\n" + ",\n".join(items) + end + "}"
    return flat


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("casefile")
    ap.add_argument("--program", nargs="+", required=True)
    ap.add_argument("--update", action="store_true")
    ap.add_argument("--only", help="run only the case of this name")
    a = ap.parse_args()
    a.program = [os.path.abspath(part) if os.path.exists(part) else part for part in a.program]
    with open(a.casefile, "r+", encoding="utf-8") as handle:
        fcntl.flock(handle, fcntl.LOCK_EX)
        common = json.load(handle)
        failed = 0
        for case in common["cases"]:
            if a.only and case["name"] != a.only:
                continue
            with tempfile.TemporaryDirectory(prefix="tarn-case-") as workdir:
                got = run(case, common, a.program, workdir)
            for problem in got.pop("schema"):
                failed += 1
                print(f"FAIL {case['name']}: the report does not fit docs/report.schema.json: {problem}")
            golden = os.path.join(REPO, case.get("expect", {}).get("page", ""))
            if a.update:
                if "page" in got:
                    open(golden, "w", encoding="utf-8").write("\n".join(got["page"] or []) + "\n")
                    got["page"] = case["expect"]["page"]
                case["expect"] = got
                continue
            for key, want in case.get("expect", {}).items():
                if key == "page":
                    want = text_lines(open(golden, encoding="utf-8").read()) if os.path.isfile(golden) else None
                if got[key] != want:
                    failed += 1
                    print(f"FAIL {case['name']}: {key} differs ({case.get('about', '')})")
                    diff = difflib.unified_diff(dump(want).split("\n"), dump(got[key]).split("\n"),
                                                "expected", "got", lineterm="", n=2)
                    print("\n".join(list(diff)[:60]))
        if a.update:
            handle.seek(0)
            handle.truncate()
            handle.write(dump(common) + "\n")
        checked = "" if SCHEMA else " (reports not checked against the schema: python3-jsonschema is not installed)"
        print(f"{os.path.basename(a.casefile)}: {len(common['cases'])} cases, {failed} differences{checked}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
