#!/usr/bin/env bash
# Installs what the QEMU integration test (tests/qemu/) needs on Debian 12 (as root), besides the build
# packages: QEMU's PC emulator, a static busybox for the guest, cpio and gzip to pack its initramfs. The guest
# kernel is downloaded by the test itself (apt-get download) and never installed.
set -euo pipefail
exec "$(dirname "$0")/../../scripts/install-deps.sh" qemu-system-x86 busybox-static cpio gzip python3 "$@"
