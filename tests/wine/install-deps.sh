#!/usr/bin/env bash
# Installs what the Wine tests need on Debian 12 (as root), besides the build packages: Wine's 64-bit
# loader, socat for the pseudo-terminal ports, python3 for the report checks, util-linux for unshare and
# flock (the guard).
#
# wine64 alone is enough: it needs no i386 architecture (no `dpkg --add-architecture i386`), since the
# programs under test are 64-bit. Its loader lands in /usr/lib/wine (tests/wine/wine.sh looks there); the
# recommended `wine` package, with the commands on PATH, is not needed.
# Usage: tests/wine/install-deps.sh [extra package ...]
set -euo pipefail
exec "$(dirname "$0")/../../scripts/install-deps.sh" wine64 socat python3 util-linux "$@"
