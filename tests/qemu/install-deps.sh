#!/usr/bin/env bash
# Installs what the QEMU integration test (tests/qemu/) needs on Debian 12 (as root), besides the build
# packages: QEMU's PC emulator, a static busybox for the guest, cpio and gzip to pack its initramfs, and the
# package lists that name the guest kernel, which the test downloads itself (apt-get download, never
# installed).
set -euo pipefail
"$(dirname "$0")/../../scripts/install-deps.sh" qemu-system-x86 busybox-static cpio gzip python3 "$@"
apt-cache show linux-image-amd64 >/dev/null 2>&1 || apt-get update -qq
