# shellcheck shell=bash disable=SC2034 # sourced: DOWNLOAD_US, QEMU_US and VMLINUZ are read by the caller
# Shared by run-qemu-test.sh and run-qemu-bench.sh (sourced, not run): the checks of the host's tools, the
# guest kernel, the initramfs's common part, free UDP ports for the loopback chardevs, and the boot with a
# timestamped console log. The sourcing script defines die MESSAGE (prints and exits 2) and NAME (its own
# name, for messages) first.
#
# Safety: the guest's first UART (0x3F8, ttyS0) is its console; the test UARTs' chardevs are UDP sockets on
# 127.0.0.1 that send to themselves. Nothing here touches a serial port, an I/O port or /dev/port of the host.

now_us() { echo "${EPOCHREALTIME/./}"; }
seconds() { printf '%d.%03d' $(($1 / 1000000)) $(($1 / 1000 % 1000)); }

# guest_check_tools OPTION:EXE...: each EXE exists and is static (the guest has no C library: a dynamic
# program would not even start there); then the host tools the boot needs.
guest_check_tools() {
    local pair exe
    for pair in "$@"; do
        exe=${pair#*:}
        if [ -z "$exe" ] || [ ! -x "$exe" ]; then
            die "${pair%%:*}: '$exe' is not an executable"
        fi
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
}

# guest_kernel WORK: sets VMLINUZ, downloading Debian's kernel once into the cache (WORK/kernel-cache unless
# TARN_QEMU_CACHE names another; TARN_QEMU_KERNEL names a file to use instead), never installing it. Sets
# DOWNLOAD_US to the time a download took (0 without one).
guest_kernel() {
    DOWNLOAD_US=0
    if [ -n "${TARN_QEMU_KERNEL:-}" ]; then
        [ -f "$TARN_QEMU_KERNEL" ] || die "TARN_QEMU_KERNEL=$TARN_QEMU_KERNEL does not exist"
        VMLINUZ=$TARN_QEMU_KERNEL
        return
    fi
    local cache=${TARN_QEMU_CACHE:-$1/kernel-cache} pkg t0
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
    echo "$NAME: downloading $pkg (once, into $cache; not installed)"
    rm -rf "$cache/unpack" "$cache"/*.deb
    (cd "$cache" && apt-get download -q "$pkg") || die "apt-get download $pkg failed"
    dpkg-deb -x "$cache"/"${pkg}"_*.deb "$cache/unpack" || die "dpkg-deb -x failed"
    cp "$(find "$cache/unpack/boot" -name 'vmlinuz-*' | head -1)" "$VMLINUZ.tmp" && mv "$VMLINUZ.tmp" "$VMLINUZ"
    rm -rf "$cache/unpack" "$cache"/*.deb # the modules are not needed: 8250 is built into Debian's kernel
    DOWNLOAD_US=$(($(now_us) - t0))
}

# guest_root ROOT IOWATCH: a fresh initramfs tree with static busybox, /init (guest-init.sh) and /iowatch;
# the caller adds its programs and /plan.sh.
guest_root() {
    rm -rf "$1"
    mkdir -p "$1"/{bin,sbin,usr/bin,usr/sbin,proc,sys,dev,tmp}
    cp /bin/busybox "$1/bin/busybox"
    cp "$HERE/guest-init.sh" "$1/init"
    cp "$2" "$1/iowatch"
    chmod 755 "$1/init" "$1/iowatch" "$1/bin/busybox"
}

# guest_add_program ROOT NAME EXE: EXE as /NAME, stripped (it packs and boots seconds faster).
guest_add_program() {
    strip -o "$1/$2" "$3" 2>/dev/null || cp "$3" "$1/$2"
    chmod 755 "$1/$2"
}

# guest_pack ROOT OUT: the tree as a gzip'd newc cpio archive.
guest_pack() {
    (cd "$1" && find . | cpio -o -H newc --quiet | gzip -1) >"$2"
}

# guest_udp_ports COUNT FIRST LAST SALT: COUNT consecutive free UDP ports on 127.0.0.1 between FIRST and LAST,
# the search starting from a place derived from this shell's PID and SALT (parallel runs spread out).
guest_udp_ports() {
    python3 - "$1" "$2" "$3" "$$" "${4:-0}" <<'EOF'
import socket, sys
count, first, last, pid, salt = (int(a) for a in sys.argv[1:])
slots = (last - first + 1) // count
start = (pid * 7 + salt * 101) % slots
for k in range(slots):
    base = first + ((start + k) % slots) * count
    sockets = []
    try:
        for port in range(base, base + count):
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

# guest_udp ID PORT: a chardev that sends to itself, so that the UART's output comes back as its input.
guest_udp() { echo "udp,id=$1,host=127.0.0.1,port=$2,localaddr=127.0.0.1,localport=$2"; }

# guest_boot LOG LIMIT QEMU_ARGS...: boots (TCG, the console on the first UART as stdio, the rest as given),
# writes the console to LOG with each line's host time since QEMU started, and sets QEMU_US.
guest_boot() {
    local log=$1 limit=$2 line d t0
    shift 2
    # shellcheck disable=SC2054 # the commas belong to QEMU's option values
    local args=(-accel tcg -machine pc -m 256M -smp 1 -nodefaults -no-user-config -display none -no-reboot
        -append "console=ttyS0 panic=-1 quiet" -serial stdio "$@") # 0x3F8 irq 4: ttyS0, the console
    echo "### qemu-system-x86_64 ${args[*]}" >"$log"
    t0=$(now_us)
    { timeout "$limit" qemu-system-x86_64 "${args[@]}" </dev/null 2>&1; echo "### QEMU exit $?"; } |
        while IFS= read -r line; do
            d=$(($(now_us) - t0))
            printf '[%3d.%03d] %s\n' $((d / 1000000)) $((d / 1000 % 1000)) "${line%$'\r'}"
        done >>"$log"
    QEMU_US=$(($(now_us) - t0))
}
