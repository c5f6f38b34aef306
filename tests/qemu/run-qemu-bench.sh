#!/bin/bash
# The QEMU benchmark (docs/performance.md): one boot of the QEMU test's guest (README.md) with one test UART,
# 0x2F8 (ttyS1, COM2), whose UDP chardev on 127.0.0.1 sends to itself. In the guest, on the real Linux
# backends (/dev/port for the registers, termios for the COM port):
#   - WITNESS: a short pass of guestbench under iowatch, proof that it touches only 0x2F8-0x2FF, then the
#              five tests under iowatch (the first run since boot: QEMU translates their code then);
#   - REGS:    the cost of one ReadRegister (DriverOpened + PortReadByte) through /dev/port, N calls;
#   - SLEEPS:  how late 48 waits of 10 ms end, through the backend's Sleep and a bare nanosleep;
#   - TESTS:   the five tests in one process, each one's wall time against the spec's fixed waits;
#   - PROC_*:  each test as its own run of the shipped program (start-up included).
# It leaves the QEMU test (run-qemu-test.sh, check-reports.py) and what it asserts alone.
#
#   run-qemu-bench.sh --bench STATIC_GUESTBENCH --program STATIC_TARNSERIALPORT --iowatch STATIC_IOWATCH
#                     [--work DIR] [--regs N] [--summary FILE]
#
# --work DIR (default ./qemu-bench-work; the kernel cache is DIR/kernel-cache unless TARN_QEMU_CACHE or
# TARN_QEMU_KERNEL name one, as for run-qemu-test.sh), --regs N (default 100000), --summary FILE: the figures
# as tab-separated rows (quantity, measured, goal, met) for scripts/bench-table.sh.
# Exit status: 0 figures printed (goals met or not), 1 the guest gave no figures or the witness saw an
# access outside 0x2F8-0x2FF, 2 setup error.
#
# Safety as for the QEMU test: nothing touches the host's serial ports, I/O ports or /dev/port; the guest's
# console UART (0x3F8) is never selected; guestbench refuses to run outside this guest (/tarn-guest).
set -euo pipefail
export LC_ALL=C

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BENCH='' PROGRAM='' IOWATCH='' WORK=$PWD/qemu-bench-work REGS=100000 SUMMARY=''
while [ $# -gt 0 ]; do
    case $1 in
    --bench) BENCH=$2; shift 2 ;;
    --program) PROGRAM=$2; shift 2 ;;
    --iowatch) IOWATCH=$2; shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    --regs) REGS=$2; shift 2 ;;
    --summary) SUMMARY=$2; shift 2 ;;
    -h | --help) sed -n '2,21p' "$0"; exit 0 ;;
    *) echo "run-qemu-bench.sh: unknown argument '$1'" >&2; exit 2 ;;
    esac
done

die() { echo "run-qemu-bench.sh: SETUP ERROR: $*" >&2; exit 2; }
NAME=run-qemu-bench.sh
# shellcheck source=guest-common.sh
. "$HERE/guest-common.sh"

guest_check_tools "--bench:$BENCH" "--program:$PROGRAM" "--iowatch:$IOWATCH"
[[ $REGS =~ ^[1-9][0-9]*$ ]] || die "--regs: '$REGS' is not a positive number"

mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
LOG=$WORK/console.log

# The initramfs: the QEMU test's /init (guest-init.sh) with the benchmark's plan.
initramfs() {
    local root=$WORK/initramfs
    guest_root "$root" "$IOWATCH"
    guest_add_program "$root" guestbench "$BENCH"
    guest_add_program "$root" tarnserialport "$PROGRAM"
    echo "QEMU benchmark guest" >"$root/tarn-guest" # guestbench runs only where this file is
    {
        cat <<'EOF'
# run_plain ID PROGRAM ARGS...: as run_watched (guest-init.sh), without iowatch, whose ptrace stops would
# be part of every figure.
run_plain() {
    id=$1
    shift
    echo "=====$id COMMAND $*====="
    mark "$id START"
    "$@" >"/tmp/$id.out" 2>"/tmp/$id.err" </dev/null
    rc=$?
    mark "$id END rc=$rc"
    section "$id STDOUT" "/tmp/$id.out"
    section "$id STDERR" "/tmp/$id.err"
}
run_watched WITNESS 120 /guestbench regs 200
# All five tests once under the witness: the proof covers every test, and QEMU translates their code
# here, so that the figures below measure the tests, not QEMU's first translation (docs/performance.md).
run_watched WITNESS_TESTS 120 /guestbench tests
EOF
        echo "run_plain REGS /guestbench regs $REGS"
        echo "run_plain SLEEPS /guestbench sleeps 48"
        echo "run_plain TESTS /guestbench tests --passes 2"
        for t in ExternalRegisterTest ExternalLoopbackTest InternalRegisterTest InternalControlSignalsTest \
            InternalSendAndReceiveTest; do
            echo "run_plain PROC_$t /guestbench time $t /tarnserialport --device COM2 --test $t --answer ok" \
                "--no-progress --report /tmp/PROC_$t.json"
        done
    } >"$root/plan.sh"
    guest_pack "$root" "$WORK/initramfs.cpio.gz"
    rm -rf "$root"
}

# One test UART, 0x2F8 irq 3 (ttyS1, COM2), whose UDP chardev on 127.0.0.1 sends to itself.
boot() {
    local port
    port=$(guest_udp_ports 1 48000 48999) || die "no free UDP port in 48000-48999"
    guest_boot "$LOG" 300 -kernel "$VMLINUZ" -initrd "$WORK/initramfs.cpio.gz" \
        -chardev "$(guest_udp lb1 "$port")" -serial chardev:lb1
}

guest_kernel "$WORK"
initramfs
echo "run-qemu-bench.sh: kernel=$VMLINUZ work=$WORK regs=$REGS (one boot, about a minute)"
boot
qemu_s=$(seconds "$QEMU_US")
echo "run-qemu-bench.sh: console log $LOG; qemu ${qemu_s} s"
args=(--log "$LOG" --qemu-seconds "$qemu_s")
[ -z "$SUMMARY" ] || args+=(--summary "$SUMMARY")
python3 "$HERE/bench-summary.py" "${args[@]}"
