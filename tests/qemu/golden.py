#!/usr/bin/env python3
"""Runs of the program on real platforms (a QEMU guest, Wine) as cases: each case of CASEFILE has a "name",
a "command" and an "expect" whose keys ("exit", "stdout", "stderr", "report") say what is compared.

  golden.py CASEFILE --plan FILE               one line `run NAME COMMAND...` per case, for the caller's run()
  golden.py CASEFILE --out DIR [--update]      compare what each run left in DIR/NAME (the files exit, stdout,
                                               stderr, report.json); --update writes it into "expect" instead,
                                               and a case's "recording" (a --record file the run left in
                                               DIR/NAME/record.jsonl) into tests/replay/, gzipped

What varies from run to run is taken out as the simulated cases take it out (tests/cases/run_cases.py), and
so are real durations ("PASS after 0.8 s", with the padding of their column), which on real hardware vary
by a tenth of a second, and the module's source line numbers in events and logs, which any edit of the
module moves: these runs prove the platform, and the simulated cases hold every text to the letter.
"""
import argparse, gzip, json, os, re, shlex, sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "cases"))
from run_cases import dump, text_lines, without_volatile  # noqa: E402


LINE_NUMBERS = ((r"^\d+ ", "# "), (r"( P\d) \d+ ", r"\1 # "), (r"(\(\w+:)\d+\)", r"\1#)"))


def without_lines(value):
    # Source lines move with every edit of the module; on real hardware a run's own duration varies too.
    if isinstance(value, dict):
        return {k: without_lines(v) for k, v in value.items() if k not in ("line", "seconds")}
    if isinstance(value, list):
        return [without_lines(v) for v in value]
    if isinstance(value, str):  # "928 Invalid baud rate...", "P4 928 ...", "(SerialPortTest:239)"
        for pattern, replacement in LINE_NUMBERS:
            value = re.sub(pattern, replacement, value)
    return value


def outcome(folder):
    def text(name):
        path = os.path.join(folder, name)
        return open(path, encoding="utf-8", errors="replace").read() if os.path.exists(path) else ""
    report = os.path.join(folder, "report.json")
    return without_lines({
        "exit": int(text("exit") or -1),
        "stdout": [re.sub(r" +\d+\.\d+ s\b", " #.# s", line) for line in text_lines(text("stdout"))],
        "stderr": text_lines(text("stderr")),
        "report": without_volatile(json.load(open(report))) if os.path.exists(report) else None})


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("casefile")
    ap.add_argument("--plan")
    ap.add_argument("--out")
    ap.add_argument("--update", action="store_true")
    a = ap.parse_args()
    cases = json.load(open(a.casefile))
    if a.plan:
        with open(a.plan, "w") as plan:
            plan.writelines(shlex.join(["run", c["name"]] + c["command"]) + "\n" for c in cases["cases"])
        return 0
    failed = 0
    replay = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "replay")
    for case in cases["cases"]:
        got = outcome(os.path.join(a.out, case["name"]))
        if a.update:
            case["expect"] = {key: got[key] for key in case["expect"]}
            if "recording" in case:  # the corpus of tests/replay: gzipped, with no date in it
                with open(os.path.join(a.out, case["name"], "record.jsonl"), "rb") as recorded, \
                        open(os.path.join(replay, case["recording"]), "wb") as kept, \
                        gzip.GzipFile(fileobj=kept, mode="wb", compresslevel=9, mtime=0) as packed:
                    packed.write(recorded.read())
            continue
        for key, want in case["expect"].items():
            if got[key] != want:
                failed += 1
                print(f"FAIL {case['name']}: {key} differs; expected:\n{dump(want)}\ngot:\n{dump(got[key])}")
    if a.update:
        with open(a.casefile, "w") as handle:
            handle.write(dump(cases) + "\n")
    print(f"{os.path.basename(a.casefile)}: {len(cases['cases'])} runs, {failed} differences")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
