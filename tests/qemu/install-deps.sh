#!/bin/bash
# Installs what the QEMU integration test (tests/qemu/) needs on a Debian 12 machine or CI runner:
# QEMU's PC emulator, a static busybox for the guest's initramfs, cpio to pack it, and the tools the runner
# uses (python3 for the report checker, dpkg-deb/apt-get for the guest kernel, which is downloaded by the
# test itself into the build tree and never installed).
# Run as root (or with sudo); idempotent: installs only what is missing.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
packages=(qemu-system-x86 busybox-static cpio gzip python3 socat)
need=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ ${#need[@]} -eq 0 ]; then
    echo "install-deps.sh: all present: ${packages[*]}"
    exit 0
fi
SUDO=
[ "$(id -u)" = 0 ] || SUDO=sudo
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${need[@]}"
echo "install-deps.sh: installed ${need[*]}"
