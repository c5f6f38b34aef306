#!/usr/bin/env bash
# Installs what the Wine tests need on Debian 12 (as root; a no-op for what is already there), for CI and
# for developers: Wine's 64-bit loader, socat for the pseudo-terminal ports, python3 for the report checks,
# util-linux for unshare and flock (the guard). The mingw-w64 compiler and GoogleTest's sources come with
# scripts/install-deps.sh.
#
# wine64 alone is enough: it needs no i386 architecture (no `dpkg --add-architecture i386`), since the
# programs under test are 64-bit. Its loader lands in /usr/lib/wine (tests/wine/wine.sh looks there); the
# recommended `wine` package, with the commands on PATH, is not needed.
# Usage: tests/wine/install-deps.sh [extra package ...]
set -euo pipefail
packages=(wine64 socat python3 util-linux "$@")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "tests/wine/install-deps.sh: these packages are missing and installing them needs root: ${missing[*]}" >&2
        exit 1
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
