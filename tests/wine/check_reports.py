#!/usr/bin/env python3
"""Asserts the results of tarnserialport.exe under Wine from its JSON reports (formats.md, section 3).

What Wine gives the program (../../shared/notes/wine.md), and so what the reports must show:
- There is no kernel-mode driver (InpOut) under Wine: the port object's constructor throws "TARN Driver not
  installed!" in every run, external tests included (Parts 3.1 step 6, 4.1), and the report records
  EXITEDABNORMALLY with that message (run nodriver-com5, the program as shipped).
- With the InpOut stand-in (inpout_standin.cpp: the driver reported open, no I/O port touched), the
  external tests run their own code against kernel32 as Wine implements it (runs standin-com5 and
  standin-com6):
  - COM5 echoes every byte; COM6 has nothing attached.
  - dwSettableBaud is 0x66BFF: of Part 4.2's twelve rates, 14400, 56000 and 128000 are missing; 110, 600
    and 256000 of the default list are never supported (Part 5.5).
  - GetCommModemStatus fails on a pseudo-terminal (error 50); the module reads that as DSR and CTS clear
    (docs/decisions.md, "Unreadable modem status").
  - The external tests access no UART register: the stand-in reports none on standard error.

Usage: check_reports.py --out DIR   (DIR holds NAME.json, NAME.rc, NAME.out, NAME.err for each run)
Exit status 0 when every check passed, 1 otherwise; one line per check, then "N passed, N failed".
"""
import argparse
import json
import os
import sys

# Part 2.3: g_DefaultBaudRates, in order. Part 4.2: the rates IsBaudRateSupported knows.
DEFAULT_RATES = [110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000,
                 256000]
WINE_SETTABLE = [300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200]  # bits of 0x66BFF
# BaudRateIndex is the 0-based position of the rejected entry (docs/decisions.md).
REJECTED_INDEXES = [i for i, rate in enumerate(DEFAULT_RATES) if rate not in WINE_SETTABLE]
ALL_TESTS = ["ExternalRegisterTest", "ExternalLoopbackTest", "InternalRegisterTest",
             "InternalControlSignalsTest", "InternalSendAndReceiveTest"]  # Part 2.1, registration order
DRIVER_MISSING = "TARN Driver not installed!"


class Checker:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, condition, what, detail=""):
        if condition:
            self.passed += 1
            print(f"ok    {what}")
        else:
            self.failed += 1
            print(f"FAIL  {what}" + (f": {detail}" if detail else ""))
        return condition


def variables(entry):
    return {v["name"]: v["value"] for v in entry.get("vars", [])}


def events(run, severities=("error", "warning")):
    return [e for e in run["timeline"] if e.get("kind") == "event" and e.get("severity") in severities]


def progress_rates(run):
    return [variables(e).get("BaudRate") for e in run["timeline"]
            if e.get("kind") == "progress" and e.get("name") == "LoopbackProgress"]


def load(c, out, name):
    """The report and the exit status of one program run; None when unusable (reported as a failure)."""
    rc_file, report_file = os.path.join(out, f"{name}.rc"), os.path.join(out, f"{name}.json")
    rc = int(open(rc_file).read().strip()) if os.path.exists(rc_file) else None
    if not c.check(os.path.exists(report_file), f"{name}: the program wrote its report",
                   f"exit status {rc}; output in {out}/{name}.out and {name}.err"):
        for stream in ("out", "err"):
            path = os.path.join(out, f"{name}.{stream}")
            if os.path.exists(path):
                print(f"--- {name}.{stream} (last lines):")
                print("".join(open(path, errors="replace").readlines()[-20:]), end="")
        return None, rc
    try:
        report = json.load(open(report_file))
    except ValueError as error:
        c.check(False, f"{name}: the report is JSON", str(error))
        return None, rc
    c.check(report.get("exitCode") == rc, f"{name}: exitCode in the report equals the exit status ({rc})",
            f"report says {report.get('exitCode')}")
    return report, rc


def check_rejected_rates(c, name, run):
    invalid = [e for e in events(run) if e["name"] == "InvalidBaudRateConfig"]
    c.check([variables(e).get("BaudRateIndex") for e in invalid] == REJECTED_INDEXES,
            f"{name}: InvalidBaudRateConfig for 110, 600, 14400, 56000, 128000, 256000 "
            f"(BaudRateIndex {REJECTED_INDEXES})",
            f"got {[variables(e) for e in invalid]}")
    c.check(all(e["severity"] == "error" for e in invalid), f"{name}: InvalidBaudRateConfig is an error")


def check_nodriver_com5(c, report, rc):
    c.check(rc == 3, "nodriver-com5: exit status 3 (runs ended otherwise, none failed)", f"got {rc}")
    runs = report["runs"]
    c.check([r["test"] for r in runs] == ALL_TESTS, "nodriver-com5: the five tests ran in registration order",
            f"got {[r['test'] for r in runs]}")
    c.check(all(r["device"] == "COM5" for r in runs), "nodriver-com5: every run is on COM5",
            f"got {[r['device'] for r in runs]}")
    for run in runs:
        c.check(run["result"] == "EXITEDABNORMALLY" and run["exception"] == DRIVER_MISSING,
                f"nodriver-com5: {run['test']} EXITEDABNORMALLY with \"{DRIVER_MISSING}\"",
                f"result {run['result']}, exception {run['exception']!r}")
        shown = [e.get("kind") for e in run["timeline"] if e.get("kind") in ("progress", "percent", "event")]
        c.check(not shown, f"nodriver-com5: {run['test']} ended before any progress or event (Part 3.1)",
                f"got {shown}")


def check_no_register_access(c, out, name):
    path = os.path.join(out, f"{name}.err")
    accesses = [line.strip() for line in open(path, errors="replace")
                if line.startswith("inpout stand-in:")] if os.path.exists(path) else []
    c.check(not accesses, f"{name}: the external tests accessed no UART register", f"got {accesses[:5]}")


def check_com5(c, report, rc):
    c.check(rc == 1, "standin-com5: exit status 1 (a run failed)", f"got {rc}")
    runs = report["runs"]
    c.check([(r["test"], r["device"]) for r in runs] == [("ExternalRegisterTest", "COM5"),
                                                         ("ExternalLoopbackTest", "COM5")],
            "standin-com5: ExternalRegisterTest, then ExternalLoopbackTest, on COM5",
            f"got {[(r['test'], r['device']) for r in runs]}")
    by_test = {r["test"]: r for r in runs}

    loop = by_test.get("ExternalLoopbackTest")
    if loop:
        c.check(loop["result"] == "PASS" and loop["exception"] is None, "standin-com5: ExternalLoopbackTest PASS",
                f"result {loop['result']}, exception {loop['exception']!r}, events {events(loop)}")
        check_rejected_rates(c, "standin-com5", loop)
        others = [e["name"] for e in events(loop) if e["name"] != "InvalidBaudRateConfig"]
        c.check(not others, "standin-com5: no other error or warning in ExternalLoopbackTest", f"got {others}")
        c.check(progress_rates(loop) == WINE_SETTABLE + [WINE_SETTABLE[-1]],
                f"standin-com5: a passing pass at each settable rate {WINE_SETTABLE}, then the final progress",
                f"LoopbackProgress rates {progress_rates(loop)}")

    register = by_test.get("ExternalRegisterTest")
    if register:
        c.check(register["result"] == "FAIL" and register["exception"] is None,
                "standin-com5: ExternalRegisterTest FAIL", f"result {register['result']}, {register['exception']!r}")
        found = [(e["name"], e["severity"], variables(e)) for e in events(register)]
        c.check(found == [("DTR_StuckLow", "error", {"PortNumber": "COM5"}),
                          ("CTS_STuckLow", "error", {"PortNumber": "COM5"})],
                "standin-com5: ExternalRegisterTest raised DTR_StuckLow and CTS_STuckLow (modem lines unreadable)",
                f"got {found}")


def socat_stream(path, direction):
    """The bytes of one direction ('>' written by the program, '<' sent back) in a `socat -x -v` log."""
    data, inside = bytearray(), False
    for line in open(path, errors="replace"):
        if line.startswith(("> ", "< ")):
            inside = line.startswith(direction)
        elif line.startswith("--"):
            inside = False
        elif inside and line.startswith(" "):
            data += bytes(int(token, 16) for token in line.split("  ")[0].split())
    return bytes(data)


def check_com5_wire(c, out):
    """What went out on COM5 over the whole test: the probe's 8 bytes, then only what Parts 3.2 and 5.6
    send: "AT\r" (the modem screen) and one 256-byte ramp per pass, nine passes."""
    path = os.path.join(out, "socat-com5.log")
    if not c.check(os.path.exists(path), "COM5 wire: socat's trace exists", path):
        return
    sent, echoed = socat_stream(path, ">"), socat_stream(path, "<")
    c.check(sent == echoed, "COM5 wire: everything written came back, in order (the echo end works)",
            f"{len(sent)} bytes written, {len(echoed)} came back")
    probe = bytes([0x00, 0x11, 0x13, 0x55, 0xAA, 0x7F, 0x80, 0xFF])
    rest, ramps, screens = sent[len(probe):] if sent.startswith(probe) else None, 0, 0
    while rest:
        if rest.startswith(b"AT\r"):
            rest, screens = rest[3:], screens + 1
        elif rest.startswith(bytes(range(256))):
            rest, ramps = rest[256:], ramps + 1
        else:
            break
    c.check(rest == b"" and ramps == len(WINE_SETTABLE) and screens > 0,
            f"COM5 wire: the probe's bytes, then only \"AT\\r\" and {len(WINE_SETTABLE)} whole ramps 0..255",
            "the probe's bytes are missing" if rest is None else
            f"{screens} AT, {ramps} ramps, then {len(rest)} other bytes starting {rest[:24]!r}")


def check_com6(c, report, rc):
    c.check(rc == 1, "standin-com6: exit status 1 (the run failed)", f"got {rc}")
    runs = report["runs"]
    if not c.check([(r["test"], r["device"]) for r in runs] == [("ExternalLoopbackTest", "COM6")],
                   "standin-com6: one run, ExternalLoopbackTest on COM6", f"got {[(r['test'], r['device']) for r in runs]}"):
        return
    run = runs[0]
    c.check(run["result"] == "FAIL" and run["exception"] is None, "standin-com6: ExternalLoopbackTest FAIL",
            f"result {run['result']}, exception {run['exception']!r}")
    check_rejected_rates(c, "standin-com6", run)
    others = [(e["name"], variables(e)) for e in events(run) if e["name"] != "InvalidBaudRateConfig"]
    c.check(others == [("IncorrectCharCount", {"PortNumber": "COM6", "DataRead": 0, "DataWritten": 256})],
            "standin-com6: one IncorrectCharCount, DataRead 0 of DataWritten 256 (nothing comes back), nothing else",
            f"got {others}")
    c.check(progress_rates(run) == [WINE_SETTABLE[0], WINE_SETTABLE[0]],
            f"standin-com6: the run stopped at the first rate, {WINE_SETTABLE[0]}",
            f"LoopbackProgress rates {progress_rates(run)}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True, help="the folder with the reports and exit statuses")
    out = parser.parse_args().out
    c = Checker()
    for name, check in (("nodriver-com5", check_nodriver_com5), ("standin-com5", check_com5),
                        ("standin-com6", check_com6)):
        report, rc = load(c, out, name)
        if report is not None:
            try:
                check(c, report, rc)
            except (KeyError, TypeError) as error:
                c.check(False, f"{name}: the report has the fields of formats.md", repr(error))
            if name != "nodriver-com5":
                check_no_register_access(c, out, name)
    check_com5_wire(c, out)
    print(f"{c.passed} passed, {c.failed} failed")
    return 0 if c.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
