#!/usr/bin/env bash
# Installs what the QEMU integration test (tests/qemu/) needs on Debian 12 (as root), besides the build
# packages: QEMU's PC emulator, a static busybox for the guest's initramfs, cpio and gzip to pack it, python3
# for the report checker, socat. The guest kernel is downloaded by the test itself into the build tree
# (apt-get download) and never installed.
set -euo pipefail
exec "$(dirname "$0")/../../scripts/install-deps.sh" qemu-system-x86 busybox-static cpio gzip python3 socat "$@"
