#!/usr/bin/env bash
# guest.sh WORK UARTS [NAME=]FILE...: boots a QEMU PC once with Debian's kernel and a busybox initramfs
# holding the FILEs (static programs, stripped, and plan.sh) as /NAME, runs /plan.sh in the guest and copies
# the guest's /out to WORK/out.
#
# The guest's first UART (0x3F8, ttyS0) is its console and is never given to a plan. UARTS (1 to 3) more
# 16550s loop their data back: each one's chardev is a UDP socket on 127.0.0.1 that sends to itself (QEMU
# does not loop the modem lines: DCD, DSR and CTS stay set):
#   0x2F8 irq 3 ttyS1 COM2, 0x3E8 irq 4 ttyS2 COM3, 0x2E8 irq 3 ttyS3 COM4.
# In plan.sh, `run NAME COMMAND...` runs COMMAND in /out/NAME with its output in the files stdout, stderr
# and exit there. Nothing here touches a serial port, an I/O port or /dev/port of this machine.
#
# The kernel is downloaded once (apt-get download of the package linux-image-amd64 depends on), unpacked,
# never installed, into WORK/kernel unless TARN_QEMU_CACHE names another folder; TARN_QEMU_KERNEL=FILE uses
# that kernel instead. WORK/console.log holds the guest's console.
set -euo pipefail
export LC_ALL=C
[ $# -ge 3 ] || { echo "usage: guest.sh WORK UARTS [NAME=]FILE..." >&2; exit 2; }
work=$1 uarts=$2
shift 2
die() { echo "guest.sh: $*" >&2; exit 2; }
command -v qemu-system-x86_64 >/dev/null && command -v cpio >/dev/null ||
    die "qemu-system-x86_64 or cpio is missing (tests/qemu/install-deps.sh)"
# The guest has no C library: its busybox must be the static one (package busybox-static).
[ -x /bin/busybox ] && ! ldd /bin/busybox >/dev/null 2>&1 || die "/bin/busybox is missing or not static"
mkdir -p "$work"
work=$(cd "$work" && pwd)

kernel() {
    local cache=${TARN_QEMU_CACHE:-$work/kernel} package
    [ -z "${TARN_QEMU_KERNEL:-}" ] || { echo "$TARN_QEMU_KERNEL"; return; }
    package=$(apt-cache depends linux-image-amd64 2>/dev/null |
        awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
    [ -n "$package" ] || die "apt knows no linux-image-amd64 (run apt-get update)"
    if [ ! -f "$cache/vmlinuz-$package" ]; then
        rm -rf "$cache/unpack" && mkdir -p "$cache/unpack"
        (cd "$cache" && apt-get download -q "$package" >&2) || die "apt-get download $package failed"
        dpkg-deb -x "$cache/${package}"_*.deb "$cache/unpack"
        # The 8250 driver is built into Debian's kernel: the modules are not needed.
        mv "$cache"/unpack/boot/vmlinuz-* "$cache/vmlinuz-$package"
        rm -rf "$cache/unpack" "$cache"/*.deb
    fi
    echo "$cache/vmlinuz-$package"
}

initramfs() {
    local root=$work/root file name
    rm -rf "$root" && mkdir -p "$root"/{bin,dev,proc,sys,out}
    cp /bin/busybox "$root/bin/"
    for file; do
        name=${file%%=*} && [ "$name" != "$file" ] || name=${file##*/}
        strip -o "$root/$name" "${file#*=}" 2>/dev/null || cp "${file#*=}" "$root/$name"
    done
    cat >"$root/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev # Debian's kernel does not mount it by itself
echo 1 >/proc/sys/kernel/printk # no kernel messages between the lines of the copy below
run() {
    mkdir -p "/out/$1" && cd "/out/$1" || return
    shift
    "$@" >stdout 2>stderr </dev/null
    echo $? >exit
    cd /
}
echo "=====GUEST START====="
. /plan.sh
echo "=====OUT BEGIN====="
tar -c -C /out . | gzip | base64
echo "=====OUT END====="
poweroff -f
EOF
    chmod 755 "$root"/*
    (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"
    rm -rf "$root"
}

boot() {
    local vmlinuz=$1 port=$((47000 + RANDOM % 600 * 3)) i u
    local args=(-accel tcg -machine pc -m 256M -smp 1 -nodefaults -no-user-config -display none -no-reboot
        -kernel "$vmlinuz" -initrd "$work/initramfs.gz" -append "console=ttyS0 panic=-1 quiet" -serial stdio)
    local devices=("-serial chardev:u1" "-device isa-serial,iobase=0x3e8,irq=4,chardev=u2"
        "-device isa-serial,iobase=0x2e8,irq=3,chardev=u3")
    for ((i = 1; i <= uarts; i++)); do
        u=$((port + i))
        # shellcheck disable=SC2206 # each entry is two words
        args+=(-chardev "udp,id=u$i,host=127.0.0.1,port=$u,localaddr=127.0.0.1,localport=$u" ${devices[i - 1]})
    done
    timeout 240 qemu-system-x86_64 "${args[@]}" </dev/null >"$work/console.log" 2>&1 || true
}

vmlinuz=$(kernel)
initramfs "$@"
start=$SECONDS
for _ in 1 2 3; do
    boot "$vmlinuz"
    # Another program may hold one of the UDP ports: then QEMU does not start, and other ports are tried.
    grep -q "GUEST START" "$work/console.log" || ! grep -qi "bind\|in use" "$work/console.log" || continue
    break
done
rm -rf "$work/out" && mkdir -p "$work/out"
if ! sed -n '/=====OUT BEGIN=====/,/=====OUT END=====/p' "$work/console.log" | tr -d '\r' | grep -v ===== |
    base64 -d | tar -xz -C "$work/out"; then
    echo "guest.sh: the guest gave no results; the end of its console ($work/console.log):" >&2
    tail -20 "$work/console.log" >&2
    exit 1
fi
echo "guest.sh: one boot with $uarts loopback UART(s), $((SECONDS - start)) s; results in $work/out" >&2
