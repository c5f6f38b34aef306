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
now_us() { echo "${EPOCHREALTIME/./}"; }

for pair in "--bench:$BENCH" "--program:$PROGRAM" "--iowatch:$IOWATCH"; do
    exe=${pair#*:}
    if [ -z "$exe" ] || [ ! -x "$exe" ]; then
        die "${pair%%:*}: '$exe' is not an executable"
    fi
    # The guest has no C library: a dynamic program would not even start there.
    if file -L "$exe" 2>/dev/null | grep -q 'dynamically linked'; then
        die "$exe is dynamically linked; the guest needs a static program"
    fi
done
[[ $REGS =~ ^[1-9][0-9]*$ ]] || die "--regs: '$REGS' is not a positive number"
for tool in qemu-system-x86_64 cpio gzip python3 dpkg-deb apt-get; do
    command -v $tool >/dev/null || die "$tool is missing (tests/qemu/install-deps.sh installs it)"
done
if [ ! -x /bin/busybox ] || file -L /bin/busybox 2>/dev/null | grep -q 'dynamically linked'; then
    die "/bin/busybox is missing or not static (Debian package busybox-static)"
fi

mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
LOG=$WORK/console.log

# The guest kernel, as run-qemu-test.sh gets it: downloaded once into the cache, never installed.
kernel() {
    if [ -n "${TARN_QEMU_KERNEL:-}" ]; then
        [ -f "$TARN_QEMU_KERNEL" ] || die "TARN_QEMU_KERNEL=$TARN_QEMU_KERNEL does not exist"
        VMLINUZ=$TARN_QEMU_KERNEL
        return
    fi
    local cache=${TARN_QEMU_CACHE:-$WORK/kernel-cache} pkg
    mkdir -p "$cache"
    pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/{print $2; exit}' || true)
    if [ -z "$pkg" ]; then
        VMLINUZ=$(find "$cache" -maxdepth 1 -name 'vmlinuz-*' ! -name '*.tmp' | sort | tail -1)
        [ -n "$VMLINUZ" ] || die "apt-cache knows no linux-image-amd64 (run apt-get update) and the cache $cache is empty"
        return
    fi
    VMLINUZ=$cache/vmlinuz-$pkg
    [ -f "$VMLINUZ" ] && return
    echo "run-qemu-bench.sh: downloading $pkg (once, into $cache; not installed)"
    rm -rf "$cache/unpack" "$cache"/*.deb
    (cd "$cache" && apt-get download -q "$pkg") || die "apt-get download $pkg failed"
    dpkg-deb -x "$cache"/"${pkg}"_*.deb "$cache/unpack" || die "dpkg-deb -x failed"
    cp "$(find "$cache/unpack/boot" -name 'vmlinuz-*' | head -1)" "$VMLINUZ.tmp" && mv "$VMLINUZ.tmp" "$VMLINUZ"
    rm -rf "$cache/unpack" "$cache"/*.deb
}

# The initramfs: the QEMU test's /init (guest-init.sh) with the benchmark's plan.
initramfs() {
    local root=$WORK/initramfs t
    rm -rf "$root"
    mkdir -p "$root"/{bin,sbin,usr/bin,usr/sbin,proc,sys,dev,tmp}
    cp /bin/busybox "$root/bin/busybox"
    cp "$HERE/guest-init.sh" "$root/init"
    cp "$IOWATCH" "$root/iowatch"
    strip -o "$root/guestbench" "$BENCH" 2>/dev/null || cp "$BENCH" "$root/guestbench"
    strip -o "$root/tarnserialport" "$PROGRAM" 2>/dev/null || cp "$PROGRAM" "$root/tarnserialport"
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
    chmod 755 "$root/init" "$root/iowatch" "$root/guestbench" "$root/tarnserialport" "$root"/bin/busybox
    (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$WORK/initramfs.cpio.gz"
    rm -rf "$root"
}

pick_port() { # one free UDP port in 48000-48999, starting from one derived from $$
    python3 - "$$" <<'EOF'
import socket, sys
start = int(sys.argv[1]) * 7 % 1000
for k in range(1000):
    port = 48000 + (start + k) % 1000
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        s.bind(("127.0.0.1", port))
    except OSError:
        continue
    finally:
        s.close()
    print(port)
    sys.exit(0)
sys.exit(1)
EOF
}

boot() {
    local port line d t0
    port=$(pick_port) || die "no free UDP port in 48000-48999"
    # shellcheck disable=SC2054 # the commas belong to QEMU's option values
    local args=(-accel tcg -machine pc -m 256M -smp 1 -nodefaults -no-user-config -display none -no-reboot
        -kernel "$VMLINUZ" -initrd "$WORK/initramfs.cpio.gz" -append "console=ttyS0 panic=-1 quiet"
        -serial stdio                                                        # 0x3F8 irq 4: ttyS0, console
        -chardev "udp,id=lb1,host=127.0.0.1,port=$port,localaddr=127.0.0.1,localport=$port" # sends to itself
        -serial chardev:lb1                                                  # 0x2F8 irq 3: ttyS1 = COM2
    )
    echo "### qemu-system-x86_64 ${args[*]}" >"$LOG"
    t0=$(now_us)
    { timeout 300 qemu-system-x86_64 "${args[@]}" </dev/null 2>&1; echo "### QEMU exit $?"; } |
        while IFS= read -r line; do
            d=$(($(now_us) - t0))
            printf '[%3d.%03d] %s\n' $((d / 1000000)) $((d / 1000 % 1000)) "${line%$'\r'}"
        done >>"$LOG"
    QEMU_US=$(($(now_us) - t0))
}

kernel
initramfs
echo "run-qemu-bench.sh: kernel=$VMLINUZ work=$WORK regs=$REGS (one boot, about a minute)"
boot
printf -v qemu_s '%d.%03d' $((QEMU_US / 1000000)) $((QEMU_US / 1000 % 1000))
echo "run-qemu-bench.sh: console log $LOG; qemu ${qemu_s} s"
args=(--log "$LOG" --qemu-seconds "$qemu_s")
[ -z "$SUMMARY" ] || args+=(--summary "$SUMMARY")
python3 "$HERE/bench-summary.py" "${args[@]}"
