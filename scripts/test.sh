#!/usr/bin/env bash
# Builds everything and passes the tests:
#   1. the native suite: every GoogleTest program through CTest, with the QEMU integration test (label
#      qemu) when its tools are there;
#   2. the Windows x86-64 cross build (mingw-w64), the shipped program;
#   3. the same GoogleTest suite cross-built for Windows and run under Wine, with the Wine integration test
#      (label wine), when Wine is there.
# Installs what it needs first (as root). An integration test whose tools cannot be installed is skipped
# with a message saying so; everything else must pass.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
tests/qemu/install-deps.sh || echo "== QEMU packages could not be installed: the QEMU test will be skipped"
wine_ok=1
tests/wine/install-deps.sh || { wine_ok=0; echo "== Wine could not be installed: the Windows suite will not run"; }

echo "== Native build and tests"
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default -j2

echo "== Windows x86-64 cross build (mingw-w64)"
cmake --preset mingw >/dev/null
cmake --build --preset mingw

if [ "$wine_ok" = 1 ]; then
    echo "== Windows build under Wine: the GoogleTest suite and the Wine integration test"
    cmake --preset mingw-tests >/dev/null
    cmake --build --preset mingw-tests
    ctest --preset mingw-tests -j2
fi
