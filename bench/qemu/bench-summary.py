#!/usr/bin/env python3
"""The QEMU benchmark's figures (run-qemu-bench.sh): reads what the guest's runs left in OUT/NAME (the files
stdout and exit) and prints the tables: the cost of a register access through /dev/port, and each test's wall
time against its fixed waits. QEMU models no line time, so a test's minimum is the waits it asks for itself:

  ExternalRegisterTest        4 x 10 ms (a settle per step) + 350 + 450 ms (the modem screen's two tries)
  ExternalLoopbackTest        per rate 10 + 1000 ms (settle, echo wait) + 800 ms (the modem screen)
  InternalRegisterTest        none (about 0)
  InternalControlSignalsTest  16 x 100 ms (a settle per combination)
  InternalSendAndReceiveTest  6 x 10 ms per rate row run, 9 rows (the programming pauses)

Goal: wall / minimum at most 1.05. Exit status 1 when a witness run was killed (a step towards an I/O port
outside 0x2F8-0x2FF) or figures are missing; 0 otherwise (a goal missed is a figure, not an error).
"""
import argparse
import os
import sys

GOAL_RATIO = 1.05
ORDER = ["ExternalRegisterTest", "ExternalLoopbackTest", "InternalRegisterTest", "InternalControlSignalsTest",
         "InternalSendAndReceiveTest"]
MODEM_CHECK_MS = 350 + 450  # no answer to "AT\r" (the loopback echoes it): two tries


def minimum_ms(test, rates, rows):
    if test == "ExternalRegisterTest":
        return 4 * 10 + MODEM_CHECK_MS
    if test == "ExternalLoopbackTest":
        return rates * (10 + 1000) + MODEM_CHECK_MS
    if test == "InternalControlSignalsTest":
        return 16 * 100
    if test == "InternalSendAndReceiveTest":
        return rows * 6 * 10
    return 0


def read_runs(out):
    """{run name: (exit status, stdout lines)} for every run folder the guest left."""
    runs = {}
    for name in os.listdir(out):
        folder = os.path.join(out, name)
        if os.path.isfile(os.path.join(folder, "exit")):
            with open(os.path.join(folder, "exit")) as status, open(os.path.join(folder, "stdout"), errors="replace") as text:
                runs[name] = (int(status.read().strip() or -1), text.read().splitlines())
    return runs


def fields(line):
    return dict(item.split("=", 1) for item in line.split()[2:] if "=" in item)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--summary", help="write the rows, tab-separated: quantity, measured, goal, met")
    args = parser.parse_args()
    runs = read_runs(args.out)

    def stdout(name):
        return runs.get(name, (None, []))[1]
    problems, rows = [], []

    # The witness: guestbench inside the jail, which kills it (exit status 159) at any step towards an I/O
    # port outside 0x2F8-0x2FF.
    for witness in ("witness-regs", "witness-tests"):
        status = runs.get(witness, (None, []))[0]
        if status != 0:
            problems.append(f"{witness}: exit status {status} inside the jail (159: killed)")
        else:
            print(f"witness {witness}: ran to its end inside the jail (I/O ports 0x2F8-0x2FF only)")

    regs = {}
    for line in stdout("regs"):
        if line.startswith("BENCH REGS call="):
            f = fields(line)
            regs[f["call"]] = float(f["ns_per_call"])
        elif line.startswith("BENCH REGS checksum=") and fields(line).get("refused") != "0":
            problems.append(f"regs: the I/O-port guard refused reads ({line}): the figures are not /dev/port's")
    regs_what = (("ReadRegister", "`CSerialPort::ReadRegister`: DriverOpened + PortReadByte (guard, ioperm + inb)"),
                 ("PortReadByte", "`PortReadByte` alone (guard, ioperm + inb)"),
                 ("pread", "bare `pread` of /dev/port"),
                 ("inb", "bare `inb` after `ioperm(0x2F8, 8)` (no system call)"),
                 ("GetTickCount", "`GetTickCount` (CLOCK_MONOTONIC)"))
    for call, _ in regs_what:
        if call not in regs:
            problems.append(f"regs: no figure for {call}")
    if "ReadRegister" in regs:
        rows.append(("QEMU guest: one ReadRegister (guard, ioperm + inb)", f"{regs['ReadRegister'] / 1000:.2f} us",
                     "-", "-"))

    # How late a 10 ms wait ends: the backend's Sleep (the tests' waits) against a bare nanosleep.
    sleeps = {}
    for line in stdout("sleeps"):
        if line.startswith("BENCH SLEEP call="):
            f = fields(line)
            sleeps[f["call"]] = f
    for call in ("Sleep", "nanosleep"):
        if call not in sleeps:
            problems.append(f"sleeps: no figure for {call}")
    if "Sleep" in sleeps:
        rows.append(("QEMU guest: Sleep(10) late by, mean / worst of 48",
                     f"{int(sleeps['Sleep']['mean_late_us']) / 1000:.3f} / "
                     f"{int(sleeps['Sleep']['max_late_us']) / 1000:.3f} ms", "-", "-"))

    # pass -> test -> fields; pass 1 is as the console host runs the five (one process, in this order).
    passes = {}
    for line in stdout("tests"):
        if line.startswith("BENCH TEST "):
            f = fields(line)
            passes.setdefault(int(f.get("pass", 1)), {})[f["name"]] = f
    tests = passes.get(1, {})
    # The same five tests run first inside the jail: the first run since boot, when QEMU translates their
    # code. Shown beside the figures, not as them.
    cold = {}
    for line in stdout("witness-tests"):
        if line.startswith("BENCH TEST "):
            f = fields(line)
            cold[f["name"]] = f

    def calls_of(f):
        out = {}
        for item in filter(None, f.get("calls", "").split(",")):
            kind, count, us = item.split(":")
            out[kind] = (int(count), int(us) / 1000)
        return out

    rates = int(tests.get("ExternalLoopbackTest", {}).get("loopback_rates", 0))
    # Six pauses per row run; a row whose rate the driver does not report settable is skipped.
    rows_run = calls_of(tests.get("InternalSendAndReceiveTest", {})).get("sleep", (0, 0))[0] // 6
    proc = {}
    for test in ORDER:
        lines = [fields(l) for l in stdout(f"proc-{test}") if l.startswith("BENCH PROC ")]
        if lines:
            proc[test] = lines[0]
        else:
            problems.append(f"proc-{test}: no figure")

    def ratio_text(test, wall_ms):
        minimum = minimum_ms(test, rates, rows_run)
        return f"{wall_ms:.0f} ms" if minimum == 0 else f"{wall_ms / minimum:.3f}"

    detail = []
    for test in ORDER:
        f = tests.get(test)
        if f is None:
            problems.append(f"tests: no figure for {test}")
            continue
        for p in passes.values():
            if test in p and int(p[test]["refused"]) != 0:
                problems.append(f"tests: {test}: the guard refused {p[test]['refused']} access(es) outside "
                                "0x2F8-0x2FF")
        wall_ms = int(f["wall_us"]) / 1000
        minimum = minimum_ms(test, rates, rows_run)
        if minimum == 0:
            rows.append((f"QEMU {test}: wall time (no fixed wait)", f"{wall_ms:.1f} ms", "-", "-"))
        else:
            ratio = wall_ms / minimum
            rows.append((f"QEMU {test}: wall / fixed waits", f"{ratio:.3f} ({wall_ms:.0f} / {minimum} ms)",
                         f"<= {GOAL_RATIO}", "yes" if ratio <= GOAL_RATIO else "NO"))
        c = calls_of(f)
        sleep_ms = c.get("sleep", (0, 0))[1]
        os_calls = {k: v for k, v in c.items() if k not in ("sleep", "port")}
        os_ms = sum(v[1] for v in os_calls.values())
        biggest = ", ".join(f"{k} {v[0]}x {v[1]:.0f}" for k, v in sorted(os_calls.items(), key=lambda kv: -kv[1][1])[:2])
        warm = passes.get(2, {}).get(test)
        note = {"ExternalLoopbackTest": f"{rates} rates", "InternalSendAndReceiveTest": f"{rows_run} of 9 rows"}
        detail.append([test + (f" ({note[test]})" if test in note else ""), f["result"], str(minimum),
                       f"{wall_ms:.0f}", ratio_text(test, wall_ms),
                       ratio_text(test, int(warm["wall_us"]) / 1000) if warm else "-",
                       ratio_text(test, int(proc[test]["wall_us"]) / 1000) if test in proc else "-",
                       ratio_text(test, int(cold[test]["wall_us"]) / 1000) if test in cold else "-",
                       f"{f['slept_ms']} / {sleep_ms:.0f}", f"{os_ms:.0f} ({biggest})",
                       str(c.get("port", (0, 0))[0]), f"{wall_ms - sleep_ms - os_ms:.0f}"])

    print("| Register access in the QEMU guest (0x2FF, the scratch register of ttyS1) | per call |")
    print("|---|---|")
    for call, what in regs_what:
        if call in regs:
            print(f"| {what} | {regs[call] / 1000:.2f} us |")
    if sleeps:
        print()
        print("| A wait of 10 ms in the QEMU guest, 48 times | late by, mean | late by, worst |")
        print("|---|---|---|")
        for call, what in (("Sleep", "the backend's `Sleep` (early wake-up, then the clock)"),
                           ("nanosleep", "a bare `nanosleep`")):
            if call in sleeps:
                print(f"| {what} | {int(sleeps[call]['mean_late_us']) / 1000:.3f} ms | "
                      f"{int(sleeps[call]['max_late_us']) / 1000:.3f} ms |")
    print()
    print("| Test | Result | Fixed waits, ms | Wall, ms | Wall / waits | 2nd pass | Own process | First since boot, "
          "in the jail | Waits asked / taken, ms | OS calls, ms | Register accesses | Rest (registers, module), ms |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|")
    for d in detail:
        print("| " + " | ".join(d) + " |")
    print()
    width = max(len(r[0]) for r in rows) if rows else 10
    for r in rows:
        print(f"{r[0]:<{width}}  {r[1]:<24}  {r[2]:<8}  {r[3]}")
    if args.summary:
        with open(args.summary, "w") as out:
            for r in rows:
                out.write("\t".join(r) + "\n")
    for p in problems:
        print("QEMU BENCH PROBLEM: " + p)
    if problems:
        print("QEMU BENCH: INCOMPLETE")
        return 1
    print("QEMU BENCH: DONE")
    return 0


if __name__ == "__main__":
    sys.exit(main())
