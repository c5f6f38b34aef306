#!/usr/bin/env python3
"""windows_cases.py CASEFILE --program WINDOWS-PROGRAM...: a case file of tests/cases run by run_cases.py
with the Windows program, after the differences that differences.json names for it, each with its reason:
an entry with "expect" replaces those keys of the case's expectation, an entry without leaves the case out
(a run that cannot exist on Windows)."""
import json, os, subprocess, sys, tempfile

here = os.path.dirname(os.path.abspath(__file__))
casefile = sys.argv[1]
name = os.path.splitext(os.path.basename(casefile))[0]
cases = json.load(open(casefile))
for case_name, entry in json.load(open(os.path.join(here, "differences.json"))).get(name, {}).items():
    case = next(c for c in cases["cases"] if c["name"] == case_name)
    if "expect" in entry:
        case["expect"].update(entry["expect"])
    else:
        cases["cases"].remove(case)
with tempfile.TemporaryDirectory() as folder:
    with open(os.path.join(folder, os.path.basename(casefile)), "w") as handle:
        json.dump(cases, handle)
    sys.exit(subprocess.call([sys.executable, os.path.join(here, "..", "cases", "run_cases.py"), handle.name]
                             + sys.argv[2:]))
