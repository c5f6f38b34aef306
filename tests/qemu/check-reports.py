#!/usr/bin/env python3
"""Checks the console log of one QEMU test boot (tests/qemu/run-qemu-test.sh) and prints a PASS/FAIL summary.

The guest (guest-init.sh) prints, between marker lines, each run's command, exit status, standard output and
error, the iowatch summary (every /dev/port access and every open the program made) and its JSON report
(../shared/formats.md section 3). This script extracts them and asserts what README.md lists.
Exit status: 0 when every assertion held, 1 otherwise.
"""
import argparse
import json
import re
import sys

# The guest's UARTs (run-qemu-test.sh): tty -> (I/O base, the COM name the console host gives it).
CONSOLE = ("ttyS0", 0x3F8, "COM1")
UARTS = [("ttyS1", 0x2F8, "COM2"), ("ttyS2", 0x3E8, "COM3"), ("ttyS3", 0x2E8, "COM4")]
INTERNAL_TESTS = ["InternalRegisterTest", "InternalControlSignalsTest", "InternalSendAndReceiveTest"]
ALL_TESTS = INTERNAL_TESTS + ["ExternalLoopbackTest", "ExternalRegisterTest"]
# Part 2.3: the default baud-rate list; Part 5.5: the twelve rates IsBaudRateSupported can accept.
DEFAULT_RATES = [110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000]
SUPPORTED_RATES = {300, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000}
# The rates every Linux serial driver sets with a standard Bxxx constant.
POSIX_RATES = [300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200]


class Checker:
    def __init__(self):
        self.failures = []
        self.passes = []

    def check(self, ok, what, why=""):
        if ok:
            self.passes.append(what)
        else:
            self.failures.append(f"{what}: {why}" if why else what)
        return ok


class ConsoleLog:
    """The guest console as the host captured it: [sss.mmm] prefixed lines."""

    LINE = re.compile(r"^\[\s*(\d+)\.(\d+)\] ?(.*)$")
    MARK = re.compile(r"^=====(.*?)=====$")

    def __init__(self, path):
        self.lines = []  # (host seconds, text)
        self.sections = {}
        self.marks = {}  # name -> (host seconds, attributes)
        self.other = []  # lines outside the prefix (### notes)
        with open(path, encoding="utf-8", errors="replace") as handle:
            for raw in handle:
                raw = raw.rstrip("\n").rstrip("\r")
                match = self.LINE.match(raw)
                if not match:
                    self.other.append(raw)
                    continue
                self.lines.append((int(match.group(1)) + int(match.group(2)) / 1000.0, match.group(3).rstrip("\r")))
        current = None
        for seconds, text in self.lines:
            mark = self.MARK.match(text)
            if mark:
                body = mark.group(1)
                if body.endswith(" BEGIN"):
                    current = body[: -len(" BEGIN")]
                    self.sections[current] = []
                    continue
                if body.endswith(" END") and current is not None and body[: -len(" END")] == current:
                    current = None
                    continue
                if current is None:
                    self.add_mark(seconds, body)
                    continue
            if current is not None:
                self.sections[current].append(text)

    def add_mark(self, seconds, body):
        # "RUN1 END rc=1 uptime=12.3", "TTY ttyS1 port=0x02F8 irq=3 type=4", "RUN1 COMMAND ..."
        if " COMMAND " in body:
            name, command = body.split(" COMMAND ", 1)
            self.marks[name + " COMMAND"] = (seconds, {"command": command})
            return
        words = body.split()
        names = [w for w in words if "=" not in w]
        attributes = dict(w.split("=", 1) for w in words if "=" in w)
        self.marks[" ".join(names)] = (seconds, attributes)

    def section(self, name):
        text = self.sections.get(name)
        return None if text is None else "\n".join(text)

    def qemu_exit(self):
        for line in [text for _, text in self.lines] + self.other:
            if line.startswith("### QEMU exit "):
                return line.split()[-1]
        return None


def parse_watch(text):
    """The iowatch summary: ports touched, opens, ioperm ranges, violations."""
    watch = {"ports": {}, "opens": [], "ioperm": [], "violations": [], "complete": False, "status": None}
    for line in (text or "").splitlines():
        if line.startswith("PORT "):
            parts = line.split()
            watch["ports"][int(parts[1], 16)] = (int(parts[2].split("=")[1]), int(parts[3].split("=")[1]))
        elif line.startswith("OPEN "):
            body = line[len("OPEN "):].rsplit(" count=", 1)[0]
            asked, _, resolved = body.partition(" -> ")
            watch["opens"].append((asked, resolved))
        elif line.startswith("IOPERM "):
            watch["ioperm"].append(line[len("IOPERM "):])
        elif line.startswith("VIOLATION "):
            watch["violations"].append(line[len("VIOLATION "):])
        elif line.startswith("IOWATCH END"):
            watch["complete"] = True
        elif line.startswith("IOWATCH "):
            match = re.search(r"status=(-?\d+)", line)
            watch["status"] = int(match.group(1)) if match else None
    return watch


def ranges_text(bases):
    return ", ".join(f"0x{b:X}-0x{b + 7:X}" for b in bases)


def check_watch(c, log, run, allowed_bases, allowed_ttys, must_touch_bases):
    """Independent proof from iowatch: no console access, register access only inside the selected UARTs."""
    watch = parse_watch(log.section(f"{run} WATCH"))
    if not c.check(watch["complete"], f"{run}: iowatch summary present",
                   "missing or cut off, so nothing vouches for the I/O ports touched"):
        return
    c.check(not watch["violations"], f"{run}: iowatch saw no console access (0x3F8-0x3FF, /dev/ttyS0, iopl)",
            "; ".join(watch["violations"]))
    # ioperm (the backend's in/out path): only exactly the eight ports of a selected UART may be granted.
    grants = [r for r in watch["ioperm"] if not r.endswith(" on=0")]
    bad_grants = [r for r in grants if not any(r.startswith(f"from=0x{b:x} num=8 ") for b in allowed_bases)]
    c.check(not bad_grants, f"{run}: ioperm grants only of {ranges_text(allowed_bases) or 'no UART'}",
            "granted " + "; ".join(bad_grants))
    allowed = {b + k for b in allowed_bases for k in range(8)}
    outside = sorted(p for p in watch["ports"] if p not in allowed)
    c.check(not outside, f"{run}: /dev/port accesses only inside {ranges_text(allowed_bases) or 'no UART'}",
            "touched " + ", ".join(f"0x{p:X}" for p in outside))
    for base in must_touch_bases:
        touched = any(base <= p < base + 8 for p in watch["ports"])
        granted = any(f"from=0x{base:x} " in r and not r.endswith("on=0") for r in watch["ioperm"])
        c.check(touched or granted, f"{run}: register accesses to 0x{base:X} seen by iowatch",
                "none seen: the register tests did not reach the UART through /dev/port (or ioperm)")
    ttys = sorted({resolved for _, resolved in watch["opens"] if resolved.startswith("/dev/tty")})
    bad = [t for t in ttys if t not in allowed_ttys]
    c.check(not bad, f"{run}: opened only the selected ttys {allowed_ttys or '(none)'}", "also opened " + ", ".join(bad))
    touched_text = ", ".join(f"0x{p:X}" for p in sorted(watch["ports"])) or "none"
    print(f"  {run}: iowatch: ports {touched_text}; ttys opened {ttys or 'none'}; ioperm {watch['ioperm'] or 'none'}")


def run_status(c, log, run):
    start = log.marks.get(f"{run} START")
    end = log.marks.get(f"{run} END")
    if not c.check(start is not None and end is not None, f"{run}: ran to its end in the guest",
                   "no START/END marks (the guest died or hung)"):
        return None
    rc = int(end[1].get("rc", "-1"))
    print(f"  {run}: exit status {rc}, {end[0] - start[0]:.1f} s (host clock), command: "
          f"{log.marks.get(run + ' COMMAND', (0, {'command': '?'}))[1]['command']}")
    return rc


def show_output(log, run, limit=40):
    for part in ("STDOUT", "STDERR"):
        text = log.section(f"{run} {part}")
        if text and text.strip():
            lines = text.strip().splitlines()
            print(f"  --- {run} {part} (last {min(limit, len(lines))} of {len(lines)} lines) ---")
            for line in lines[-limit:]:
                print(f"  | {line}")


def load_report(c, log, run):
    text = log.section(f"{run} REPORT")
    if not c.check(text is not None, f"{run}: JSON report written", "no report printed (see the output below)"):
        return None
    try:
        report = json.loads(text)
    except ValueError as error:
        c.check(False, f"{run}: JSON report parses", str(error))
        return None
    c.check(isinstance(report.get("runs"), list), f"{run}: report has runs", "no 'runs' array")
    return report


def events(run, severity=None):
    return [e for e in run.get("timeline", []) if e.get("kind") == "event"
            and (severity is None or e.get("severity") == severity)]


def var(entry, name):
    for v in entry.get("vars", []):
        if v.get("name") == name:
            return v.get("value")
    return None


def describe(run):
    names = [f"{e.get('name')}({e.get('severity')})" for e in events(run)]
    return (f"result {run.get('result')}, exception {run.get('exception')!r}, events {names or 'none'}")


def check_port_logs(c, name, runs):
    """--log-priority 1: RunTest logs "==>PORT NUMBER: n" (Part 3.1) for the port each run really took."""
    for r in runs:
        numbers = [m.group(1) for e in r.get("timeline", []) if e.get("kind") == "log"
                   for m in [re.search(r"==>PORT NUMBER: (\d+)", e.get("text", ""))] if m]
        wanted = str(r.get("device", "")).replace("COM", "")
        c.check(numbers == [wanted], f"{name}: {r.get('test')} on {r.get('device')} logged PORT NUMBER {wanted} only",
                f"logged {numbers}")


def check_list(c, log):
    rc = run_status(c, log, "LIST")
    c.check(rc == 0, "--list-devices exits 0", f"exit status {rc}")
    text = log.section("LIST STDOUT") or ""
    lines = text.splitlines()
    # The port that carries the kernel console is never listed (docs/host.md): ttyS0 must not appear.
    console_lines = [l for l in lines if re.search(rf"\b{CONSOLE[0]}\b", l) or re.search(rf"\b{CONSOLE[2]}\b", l)]
    c.check(not console_lines, f"--list-devices leaves out the console port {CONSOLE[0]} ({CONSOLE[2]})",
            f"listed: {console_lines}")
    for tty, base, com in UARTS:
        hexes = {f"0x{base:x}", f"0x{base:04x}", f"{base:x}h"}
        found = [l for l in lines if re.search(rf"\b{com}\b", l) and re.search(rf"\b{tty}\b", l)
                 and (any(h in l.lower() for h in hexes) or re.search(rf"\b{base}\b", l))]
        c.check(bool(found), f"--list-devices names {tty} (0x{base:X}) {com}",
                "no line shows all three; the --device selections of this test assume ttyS<n> = COM<n+1>")
    print("  --list-devices in the guest:")
    for line in lines:
        print(f"  | {line}")


def check_run1(c, log):
    rc = run_status(c, log, "RUN1")
    report = load_report(c, log, "RUN1")
    if rc is None or report is None:
        show_output(log, "RUN1")
        return []
    c.check(rc == 1, "RUN1 (COM2, all five tests) exits 1 (a FAIL: ExternalRegisterTest)", f"exit status {rc}")
    c.check(report.get("exitCode") == rc, "RUN1: report's exitCode is the exit status",
            f"exitCode {report.get('exitCode')} vs {rc}")
    runs = report.get("runs", [])
    tests = sorted(r.get("test") for r in runs)
    c.check(tests == sorted(ALL_TESTS), "RUN1: each of the five tests ran once", f"ran {tests}")
    c.check(all(r.get("device") == "COM2" for r in runs), "RUN1: every run on COM2",
            f"devices {[r.get('device') for r in runs]}")
    by_test = {r.get("test"): r for r in runs}
    for test in INTERNAL_TESTS:
        run = by_test.get(test, {})
        c.check(run.get("result") == "PASS", f"RUN1: {test} PASS on COM2 (0x2F8)", describe(run))
    check_external_loopback(c, by_test.get("ExternalLoopbackTest", {}))
    run = by_test.get("ExternalRegisterTest", {})
    c.check(run.get("result") == "FAIL", "RUN1: ExternalRegisterTest FAIL (QEMU holds DSR and CTS set)", describe(run))
    names = [e.get("name") for e in events(run)]
    c.check(names == ["DTR_StuckHigh", "CTS_StuckHigh"],
            "RUN1: ExternalRegisterTest events exactly DTR_StuckHigh, CTS_StuckHigh", f"events {names}")
    c.check(all(e.get("severity") == "error" and var(e, "PortNumber") == "COM2" for e in events(run)),
            "RUN1: ExternalRegisterTest events are errors with PortNumber COM2",
            str([(e.get("name"), e.get("severity"), var(e, "PortNumber")) for e in events(run)]))
    check_port_logs(c, "RUN1", runs)
    for r in runs:
        print(f"  RUN1 {r.get('device')} {r.get('test')}: {describe(r)}")
    if c.failures:
        show_output(log, "RUN1")
    return runs


def check_external_loopback(c, run):
    c.check(run.get("result") == "PASS", "RUN1: ExternalLoopbackTest PASS on COM2 (ttyS1, udp loopback)",
            describe(run))
    invalid = [var(e, "BaudRateIndex") for e in events(run) if e.get("name") == "InvalidBaudRateConfig"]
    others = [e.get("name") for e in events(run, "error") if e.get("name") != "InvalidBaudRateConfig"]
    c.check(not others, "RUN1: ExternalLoopbackTest raised no error besides InvalidBaudRateConfig", f"{others}")
    # docs/decisions.md: BaudRateIndex is the 0-based position in the list validated (here the default list).
    c.check(all(isinstance(i, int) and 0 <= i < len(DEFAULT_RATES) for i in invalid),
            "RUN1: InvalidBaudRateConfig indexes are positions of the default list", f"{invalid}")
    validated = [r for i, r in enumerate(DEFAULT_RATES) if i not in invalid]
    c.check({0, 2, 14} <= set(invalid), "RUN1: 110, 600 and 256000 rejected (Part 5.5)",
            f"rejected {[DEFAULT_RATES[i] for i in invalid if isinstance(i, int) and 0 <= i < 15]}")
    c.check(set(POSIX_RATES) <= set(validated) and set(validated) <= SUPPORTED_RATES,
            "RUN1: the validated list holds every POSIX rate 300..115200 and only supported rates",
            f"validated {validated}")
    shown = [var(e, "BaudRate") for e in run.get("timeline", [])
             if e.get("kind") == "progress" and e.get("name") == "LoopbackProgress"]
    expected = validated + validated[-1:]
    c.check(shown == expected, "RUN1: LoopbackProgress for every rate of the validated list, then the last again",
            f"shown {shown}, expected {expected}")
    print(f"  RUN1 ExternalLoopbackTest: validated list {validated}; "
          f"rejected {[DEFAULT_RATES[i] for i in invalid if isinstance(i, int) and 0 <= i < 15]}")


def check_run2(c, log):
    rc = run_status(c, log, "RUN2")
    report = load_report(c, log, "RUN2")
    if rc is None or report is None:
        show_output(log, "RUN2")
        return []
    c.check(rc == 0, "RUN2 (COM3, COM4, three internal tests) exits 0", f"exit status {rc}")
    runs = report.get("runs", [])
    got = [(r.get("device"), r.get("test")) for r in runs]
    wanted = [(com, t) for _, _, com in UARTS[1:]
              for t in ["InternalRegisterTest", "InternalControlSignalsTest", "InternalSendAndReceiveTest"]]
    c.check(got == wanted, "RUN2: the three internal tests on COM3 then COM4, in the order given", f"ran {got}")
    for r in runs:
        base = {com: b for _, b, com in UARTS}.get(r.get("device"), 0)
        c.check(r.get("result") == "PASS", f"RUN2: {r.get('test')} PASS on {r.get('device')} (0x{base:X})",
                describe(r))
    check_port_logs(c, "RUN2", runs)
    for r in runs:
        print(f"  RUN2 {r.get('device')} {r.get('test')}: {describe(r)}")
    if c.failures:
        show_output(log, "RUN2")
    return runs


def check_program(c, log):
    check_list(c, log)
    runs1 = check_run1(c, log)
    runs2 = check_run2(c, log)
    devices = sorted({r.get("device") for r in runs1 + runs2})
    c.check(CONSOLE[2] not in devices, "no run on COM1 (ttyS0, 0x3F8, the guest console)", f"devices {devices}")
    c.check(devices == ["COM2", "COM3", "COM4"], "devices tested are exactly COM2, COM3, COM4", f"{devices}")
    for run in ("LIST", "RUN1", "RUN2"):
        command = log.marks.get(run + " COMMAND", (0, {"command": ""}))[1]["command"]
        c.check(re.search(r"--device COM1\b", command) is None, f"{run}: command line selects no COM1", command)
    check_watch(c, log, "LIST", [], [], [])
    check_watch(c, log, "RUN1", [0x2F8], ["/dev/ttyS1"], [0x2F8])
    check_watch(c, log, "RUN2", [0x3E8, 0x2E8], ["/dev/ttyS2", "/dev/ttyS3"], [0x3E8, 0x2E8])


def check_probe(c, log):
    rc = run_status(c, log, "PROBE")
    c.check(rc == 0, "uartprobe exits 0", f"exit status {rc}")
    text = log.section("PROBE STDOUT") or ""
    for tty, base, _ in UARTS:
        line = next((l for l in text.splitlines() if f"tty=/dev/{tty} " in l), "")
        c.check(line.endswith(" OK"), f"probe: {tty} (0x{base:X}) registers, MCR loopback and udp echo",
                line or "no PROBE line")
        print(f"  {line}")
    check_watch(c, log, "PROBE", [b for _, b, _ in UARTS], [f"/dev/{t}" for t, _, _ in UARTS],
                [b for _, b, _ in UARTS])
    show_output(log, "PROBE", 10)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--mode", choices=["program", "probe"], default="program")
    parser.add_argument("--log", required=True)
    parser.add_argument("--max-seconds", type=float, default=120.0)
    parser.add_argument("--qemu-seconds", type=float, default=None)
    parser.add_argument("--total-seconds", type=float, default=None)
    args = parser.parse_args()

    c = Checker()
    log = ConsoleLog(args.log)
    print(f"QEMU test checks ({args.mode}), console log {args.log}")
    started = log.marks.get("GUEST START")
    done = log.marks.get("GUEST DONE")
    if c.check(started is not None, "guest booted and ran /init", "no GUEST START mark; console tail below"):
        print(f"  boot: /init started {started[0]:.1f} s after QEMU started (guest uptime {started[1].get('uptime')} s)")
    else:
        for _, text in log.lines[-25:]:
            print(f"  | {text}")
        for text in log.other[-5:]:
            print(f"  | {text}")
    c.check(done is not None, "guest finished its plan and powered off", "no GUEST DONE mark")
    c.check(log.qemu_exit() == "0", "QEMU exited 0", f"QEMU exit {log.qemu_exit()} (124: host timeout)")
    ttys = {name.split()[1]: attrs for name, (_, attrs) in log.marks.items() if name.startswith("TTY ")}
    for tty, base, _ in [CONSOLE] + UARTS:
        port = ttys.get(tty, {}).get("port")
        c.check(port is not None and int(port, 16) == base, f"guest kernel sees {tty} at 0x{base:X}",
                f"port {port}")

    if args.mode == "program":
        check_program(c, log)
    else:
        check_probe(c, log)

    if args.qemu_seconds is not None:
        run_times = []
        for run in ("LIST", "RUN1", "RUN2", "PROBE"):
            if f"{run} START" in log.marks and f"{run} END" in log.marks:
                run_times.append(f"{run} {log.marks[run + ' END'][0] - log.marks[run + ' START'][0]:.1f} s")
        boot = f"{started[0]:.1f} s" if started else "?"
        print(f"  timing: boot to /init {boot}; {'; '.join(run_times)}; QEMU in all {args.qemu_seconds:.1f} s; "
              f"whole test (without a first kernel download) {args.total_seconds:.1f} s")
        c.check(args.total_seconds is None or args.total_seconds < args.max_seconds,
                f"one boot, whole test under {args.max_seconds:.0f} s", f"took {args.total_seconds:.1f} s")

    print()
    for what in c.passes:
        print(f"  ok    {what}")
    for what in c.failures:
        print(f"  FAIL  {what}")
    verdict = "PASS" if not c.failures else f"FAIL ({len(c.failures)} of {len(c.failures) + len(c.passes)} assertions)"
    print(f"QEMU TEST: {verdict}")
    return 0 if not c.failures else 1


if __name__ == "__main__":
    sys.exit(main())
