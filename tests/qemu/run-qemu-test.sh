#!/bin/bash
# The QEMU integration test: runs the static tarnserialport on real Linux backends inside a QEMU guest whose
# 16550 UARTs loop data back, and checks its reports (tests/qemu/README.md).
#
#   run-qemu-test.sh --program STATIC_TARNSERIALPORT --iowatch STATIC_IOWATCH [--work DIR]
#   run-qemu-test.sh --probe STATIC_UARTPROBE --iowatch STATIC_IOWATCH [--work DIR]   (harness self-check)
#
# Options: --work DIR (default ./qemu-work; the kernel cache lives in DIR/kernel-cache unless
# TARN_QEMU_CACHE names another), --max-seconds N (default 120: boot plus tests), --keep-initramfs.
# Environment: TARN_QEMU_KERNEL=/path/to/vmlinuz skips the download; TARN_QEMU_CACHE=DIR shares the cache;
# TARN_QEMU_PLAN=FILE replaces the guest's plan (investigations only: the checks assume the normal plan).
# Exit status: 0 PASS, 1 FAIL (a summary names every failed assertion), 2 setup error.
#
# Safety: the guest's first UART (0x3F8, ttyS0) is its console; nothing is run on it. The chardevs of the
# test UARTs are UDP sockets on 127.0.0.1 that send to themselves. Nothing here touches a serial port, an
# I/O port or /dev/port of the host.
set -euo pipefail
export LC_ALL=C

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
PROGRAM='' PROBE='' IOWATCH='' WORK=$PWD/qemu-work MAX_SECONDS=120 KEEP=0
while [ $# -gt 0 ]; do
    case $1 in
    --program) PROGRAM=$2; shift 2 ;;
    --probe) PROBE=$2; shift 2 ;;
    --iowatch) IOWATCH=$2; shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    --max-seconds) MAX_SECONDS=$2; shift 2 ;;
    --keep-initramfs) KEEP=1; shift ;;
    -h | --help) sed -n '2,15p' "$0"; exit 0 ;;
    *) echo "run-qemu-test.sh: unknown argument '$1'" >&2; exit 2 ;;
    esac
done

die() { echo "run-qemu-test.sh: SETUP ERROR: $*" >&2; echo "QEMU TEST: FAIL (setup: $*)"; exit 2; }
NAME=run-qemu-test.sh
# shellcheck source=guest-common.sh
. "$HERE/guest-common.sh"

if [ -n "$PROBE" ]; then
    MODE=probe GUEST_PROGRAM=$PROBE
else
    MODE=program GUEST_PROGRAM=$PROGRAM
fi
guest_check_tools "--program/--probe:$GUEST_PROGRAM" "--iowatch:$IOWATCH"

T_START=$(now_us)
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
LOG=$WORK/console.log

# --- The initramfs: static busybox, the programs, /init and the plan -----------------------------------------
initramfs() {
    local root=$WORK/initramfs
    guest_root "$root" "$IOWATCH"
    if [ "$MODE" = probe ]; then
        guest_add_program "$root" uartprobe "$GUEST_PROGRAM"
        cat >"$root/plan.sh" <<'EOF'
run_watched PROBE 60 /uartprobe 2f8:/dev/ttyS1 3e8:/dev/ttyS2 2e8:/dev/ttyS3
EOF
    else
        guest_add_program "$root" tarnserialport "$GUEST_PROGRAM"
        # The device selections exclude COM1 (ttyS0, 0x3F8, the console). See README.md for the naming.
        cat >"$root/plan.sh" <<'EOF'
run_watched LIST 30 /tarnserialport --list-devices
run_watched RUN1 90 /tarnserialport --device COM2 --answer ok --no-progress --log-priority 1 --report /tmp/RUN1.json
run_watched RUN2 60 /tarnserialport --device COM3 --device COM4 --test InternalRegisterTest --test InternalControlSignalsTest --test InternalSendAndReceiveTest --answer ok --no-progress --log-priority 1 --report /tmp/RUN2.json
EOF
    fi
    # For investigations only: TARN_QEMU_PLAN=FILE replaces the plan (the checks then fail where runs differ).
    [ -z "${TARN_QEMU_PLAN:-}" ] || cp "$TARN_QEMU_PLAN" "$root/plan.sh"
    guest_pack "$root" "$WORK/initramfs.cpio.gz"
    [ "$KEEP" = 1 ] || rm -rf "$root"
}

# --- The boot: three test UARTs whose UDP chardevs on 127.0.0.1 send to themselves -----------------------
boot() { # ATTEMPT
    local port
    port=$(guest_udp_ports 3 47000 48999 "$1") || die "no three free UDP ports in 47000-48999"
    guest_boot "$LOG" 240 -kernel "$VMLINUZ" -initrd "$WORK/initramfs.cpio.gz" \
        -chardev "$(guest_udp lb1 "$port")" -serial chardev:lb1 \
        -chardev "$(guest_udp lb2 $((port + 1)))" -device isa-serial,iobase=0x3e8,irq=4,chardev=lb2 \
        -chardev "$(guest_udp lb3 $((port + 2)))" -device isa-serial,iobase=0x2e8,irq=3,chardev=lb3
    # 0x2F8 irq 3: ttyS1 = COM2; 0x3E8 irq 4: ttyS2 = COM3; 0x2E8 irq 3: ttyS3 = COM4.
}

guest_kernel "$WORK"
initramfs
T_SETUP=$(now_us)
echo "run-qemu-test.sh: mode=$MODE kernel=$VMLINUZ work=$WORK"
for attempt in 1 2 3; do
    boot $attempt
    # Another process may take a port between the probe and QEMU's bind: then try other ports.
    if grep -q 'GUEST START' "$LOG" || ! grep -qi 'could not\|address already in use\|bind' "$LOG"; then
        break
    fi
    echo "run-qemu-test.sh: QEMU could not start (attempt $attempt), retrying with other ports:"
    grep -v '^###' "$LOG" | tail -3
done
T_END=$(now_us)
grep -v '^\[' "$LOG" | head -1
echo "run-qemu-test.sh: console log: $LOG"
printf 'TIMING setup=%ss (kernel download %ss) qemu=%ss total=%ss total-without-download=%ss\n' \
    "$(seconds $((T_SETUP - T_START - DOWNLOAD_US)))" "$(seconds $DOWNLOAD_US)" "$(seconds "$QEMU_US")" \
    "$(seconds $((T_END - T_START)))" "$(seconds $((T_END - T_START - DOWNLOAD_US)))"

set +e
python3 "$HERE/check-reports.py" --mode "$MODE" --log "$LOG" --max-seconds "$MAX_SECONDS" \
    --qemu-seconds "$(seconds "$QEMU_US")" --total-seconds "$(seconds $((T_END - T_START - DOWNLOAD_US)))"
status=$?
[ $status -le 1 ] || status=1
exit $status
