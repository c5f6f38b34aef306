#!/usr/bin/env bash
# The QEMU benchmark (docs/performance.md): one boot of the integration test's guest (tests/qemu/guest.sh)
# with one loopback UART, 0x2F8 (ttyS1, COM2). In the guest, on the real Linux backends:
#   witness-regs, witness-tests: guestbench inside the jail that kills it at any step towards an I/O port
#              outside 0x2F8-0x2FF: a short pass of register reads, then the five tests (the first run since
#              boot, when QEMU translates their code);
#   regs:      the cost of one register read each way (ReadRegister, PortReadByte, pread, inb), N times;
#   sleeps:    how late 48 waits of 10 ms end, through the backend's Sleep and through a bare nanosleep;
#   tests:     the five tests in one process, twice, each one's wall time against its fixed waits;
#   proc-*:    each test as its own run of the shipped program, start-up included.
#
#   run-qemu-bench.sh GUESTBENCH PROGRAM JAIL WORK [--regs N] [--summary FILE]
#
# All three programs static. --summary FILE: the figures as tab-separated rows (quantity, measured, goal,
# met) for scripts/bench-table.sh. Exit status: 0 figures printed (goals met or not), 1 the guest gave no
# figures or a witness run was killed, 2 setup error. Nothing here touches a serial port, an I/O port or
# /dev/port of this machine.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 4 ] || { sed -n '2,18p' "$0" >&2; exit 2; }
bench=$1 program=$2 jail=$3 work=$4 regs=100000 summary=()
shift 4
while [ $# -gt 0 ]; do
    case $1 in
    --regs) regs=$2 && shift 2 ;;
    --summary) summary=(--summary "$2") && shift 2 ;;
    *) echo "run-qemu-bench.sh: unknown argument '$1'" >&2 && exit 2 ;;
    esac
done
mkdir -p "$work"
{
    echo "echo 'QEMU benchmark guest' >/tarn-guest # guestbench runs only where this file is"
    echo "run witness-regs /jail 2f8 -- /guestbench regs 200"
    echo "run witness-tests /jail 2f8 -- /guestbench tests"
    echo "run regs /guestbench regs $regs"
    echo "run sleeps /guestbench sleeps 48"
    echo "run tests /guestbench tests --passes 2"
    for test in ExternalRegisterTest ExternalLoopbackTest InternalRegisterTest InternalControlSignalsTest \
        InternalSendAndReceiveTest; do
        echo "run proc-$test /guestbench time $test /tarnserialport --device COM2 --test $test --answer ok" \
            "--no-progress --report report.json"
    done
} >"$work/plan.sh"
"$here/../../tests/qemu/guest.sh" "$work" 1 "guestbench=$bench" "tarnserialport=$program" "jail=$jail" \
    "$work/plan.sh"
python3 "$here/bench-summary.py" "$work/out" "${summary[@]}"
