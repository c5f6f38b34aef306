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
now_us() { echo "${EPOCHREALTIME/./}"; }
seconds() { printf '%d.%03d' $(($1 / 1000000)) $(($1 / 1000 % 1000)); }

if [ -z "$IOWATCH" ] || [ ! -x "$IOWATCH" ]; then
    die "--iowatch: '$IOWATCH' is not an executable"
fi
if [ -n "$PROBE" ]; then
    MODE=probe GUEST_PROGRAM=$PROBE
else
    MODE=program GUEST_PROGRAM=$PROGRAM
fi
if [ -z "$GUEST_PROGRAM" ] || [ ! -x "$GUEST_PROGRAM" ]; then
    die "--program/--probe: '$GUEST_PROGRAM' is not an executable"
fi
for exe in "$GUEST_PROGRAM" "$IOWATCH"; do
    # The guest has no C library: a dynamic program would not even start there.
    if file -L "$exe" 2>/dev/null | grep -q 'dynamically linked'; then
        die "$exe is dynamically linked; the guest needs a static program"
    fi
done
for tool in qemu-system-x86_64 cpio gzip python3 dpkg-deb apt-get; do
    command -v $tool >/dev/null || die "$tool is missing (tests/qemu/install-deps.sh installs it)"
done
if [ ! -x /bin/busybox ] || file -L /bin/busybox 2>/dev/null | grep -q 'dynamically linked'; then
    die "/bin/busybox is missing or not static (Debian package busybox-static)"
fi

T_START=$(now_us)
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
LOG=$WORK/console.log

# --- Setup 1: the guest kernel, downloaded once into the cache and never installed -------------------------
DOWNLOAD_US=0
kernel() {
    if [ -n "${TARN_QEMU_KERNEL:-}" ]; then
        [ -f "$TARN_QEMU_KERNEL" ] || die "TARN_QEMU_KERNEL=$TARN_QEMU_KERNEL does not exist"
        VMLINUZ=$TARN_QEMU_KERNEL
        return
    fi
    local cache=${TARN_QEMU_CACHE:-$WORK/kernel-cache} pkg t0
    mkdir -p "$cache"
    pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/{print $2; exit}' || true)
    if [ -z "$pkg" ]; then
        # No package lists (apt-get update never ran): a kernel already in the cache still does.
        VMLINUZ=$(find "$cache" -maxdepth 1 -name 'vmlinuz-*' ! -name '*.tmp' | sort | tail -1)
        [ -n "$VMLINUZ" ] || die "apt-cache knows no linux-image-amd64 (run apt-get update) and the cache $cache is empty"
        return
    fi
    VMLINUZ=$cache/vmlinuz-$pkg
    [ -f "$VMLINUZ" ] && return
    t0=$(now_us)
    echo "run-qemu-test.sh: downloading $pkg (once, into $cache; not installed)"
    rm -rf "$cache/unpack" "$cache"/*.deb
    (cd "$cache" && apt-get download -q "$pkg") || die "apt-get download $pkg failed"
    dpkg-deb -x "$cache"/"${pkg}"_*.deb "$cache/unpack" || die "dpkg-deb -x failed"
    cp "$(find "$cache/unpack/boot" -name 'vmlinuz-*' | head -1)" "$VMLINUZ.tmp" && mv "$VMLINUZ.tmp" "$VMLINUZ"
    rm -rf "$cache/unpack" "$cache"/*.deb # the modules are not needed: 8250 is built into Debian's kernel
    DOWNLOAD_US=$(($(now_us) - t0))
}

# --- Setup 2: the initramfs: static busybox, the programs, /init and the plan ------------------------------
initramfs() {
    local root=$WORK/initramfs
    rm -rf "$root"
    mkdir -p "$root"/{bin,sbin,usr/bin,usr/sbin,proc,sys,dev,tmp}
    cp /bin/busybox "$root/bin/busybox"
    cp "$HERE/guest-init.sh" "$root/init"
    cp "$IOWATCH" "$root/iowatch"
    if [ "$MODE" = probe ]; then
        cp "$GUEST_PROGRAM" "$root/uartprobe"
        cat >"$root/plan.sh" <<'EOF'
run_watched PROBE 60 /uartprobe 2f8:/dev/ttyS1 3e8:/dev/ttyS2 2e8:/dev/ttyS3
EOF
    else
        # Stripped, the program packs and boots several seconds faster (16 MB with debug information, 3.5 MB without).
        strip -o "$root/tarnserialport" "$GUEST_PROGRAM" 2>/dev/null || cp "$GUEST_PROGRAM" "$root/tarnserialport"
        # The device selections exclude COM1 (ttyS0, 0x3F8, the console). See README.md for the naming.
        cat >"$root/plan.sh" <<'EOF'
run_watched LIST 30 /tarnserialport --list-devices
run_watched RUN1 90 /tarnserialport --device COM2 --answer ok --no-progress --log-priority 1 --report /tmp/RUN1.json
run_watched RUN2 60 /tarnserialport --device COM3 --device COM4 --test InternalRegisterTest --test InternalControlSignalsTest --test InternalSendAndReceiveTest --answer ok --no-progress --log-priority 1 --report /tmp/RUN2.json
EOF
    fi
    # For investigations only: TARN_QEMU_PLAN=FILE replaces the plan (the checks then fail where runs differ).
    [ -z "${TARN_QEMU_PLAN:-}" ] || cp "$TARN_QEMU_PLAN" "$root/plan.sh"
    chmod 755 "$root/init" "$root/iowatch" "$root"/bin/busybox
    (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$WORK/initramfs.cpio.gz"
    [ "$KEEP" = 1 ] || rm -rf "$root"
}

# --- UDP ports on 127.0.0.1 for the three loopback chardevs --------------------------------------------------
pick_ports() { # three consecutive free UDP ports in 47000-48999, starting from one derived from $$
    python3 - "$$" "${1:-0}" <<'EOF'
import socket, sys
start = (int(sys.argv[1]) * 7 + int(sys.argv[2]) * 101) % 666
for k in range(666):
    base = 47000 + ((start + k) % 666) * 3
    sockets = []
    try:
        for port in range(base, base + 3):
            s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            sockets.append(s)
            s.bind(("127.0.0.1", port))
    except OSError:
        continue
    finally:
        for s in sockets:
            s.close()
    print(base)
    sys.exit(0)
sys.exit(1)
EOF
}
udp() { echo "udp,id=$1,host=127.0.0.1,port=$2,localaddr=127.0.0.1,localport=$2"; } # sends to itself

# --- The boot ---------------------------------------------------------------------------------------------
boot() { # ATTEMPT
    local port line d t0
    port=$(pick_ports "$1") || die "no three free UDP ports in 47000-48999"
    # shellcheck disable=SC2054 # the commas belong to QEMU's option values
    QEMU_ARGS=(-accel tcg -machine pc -m 256M -smp 1 -nodefaults -no-user-config -display none -no-reboot
        -kernel "$VMLINUZ" -initrd "$WORK/initramfs.cpio.gz" -append "console=ttyS0 panic=-1 quiet"
        -serial stdio                                                           # 0x3F8 irq 4: ttyS0, console
        -chardev "$(udp lb1 "$port")" -serial chardev:lb1                       # 0x2F8 irq 3: ttyS1 = COM2
        -chardev "$(udp lb2 $((port + 1)))" -device isa-serial,iobase=0x3e8,irq=4,chardev=lb2 # ttyS2 = COM3
        -chardev "$(udp lb3 $((port + 2)))" -device isa-serial,iobase=0x2e8,irq=3,chardev=lb3 # ttyS3 = COM4
    )
    echo "### qemu-system-x86_64 ${QEMU_ARGS[*]}" >"$LOG"
    t0=$(now_us)
    # Each console line gets the host time since QEMU started, so the checker can time boot and runs.
    { timeout 240 qemu-system-x86_64 "${QEMU_ARGS[@]}" </dev/null 2>&1; echo "### QEMU exit $?"; } |
        while IFS= read -r line; do
            d=$(($(now_us) - t0))
            printf '[%3d.%03d] %s\n' $((d / 1000000)) $((d / 1000 % 1000)) "${line%$'\r'}"
        done >>"$LOG"
    QEMU_US=$(($(now_us) - t0))
}

kernel
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
