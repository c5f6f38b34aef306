#!/usr/bin/env bash
# Builds everything and passes the tests, saying how long each stage took:
#   1. the native build and its suite: the case files, the unit tests, the replay of the fuzz inputs, the
#      QEMU integration test (label qemu) when QEMU is there, and the HTML page in a real browser (label
#      browser) when Chromium is there;
#   2. the Windows x86-64 cross build (mingw-w64), the shipped program;
#   3. the Windows build of the tests under Wine: the unit test programs, every case file with the Windows
#      program, and the integration test on Wine's COM layer, when Wine is there.
# Installs what it needs first (as root). A proof whose tools cannot be installed is skipped with a message
# saying so; everything else must pass.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
stage() { echo "== $1 ($((SECONDS - start)) s in)"; }
scripts/install-deps.sh
tests/qemu/install-deps.sh || echo "== QEMU could not be installed: the QEMU test will be skipped"
tests/browser/install-deps.sh || echo "== Chromium could not be installed: the browser tests of the HTML page will be skipped"
wine=1
tests/wine/install-deps.sh || { wine=0; echo "== Wine could not be installed: no Windows tests"; }

stage "native build"
cmake --preset default >/dev/null
cmake --build --preset default -j2
stage "native tests"
ctest --preset default -j2
stage "Windows x86-64 cross build (mingw-w64)"
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j2
if [ $wine = 1 ]; then
    stage "Windows build of the tests"
    cmake --preset mingw-tests >/dev/null
    cmake --build --preset mingw-tests -j2
    stage "Windows tests under Wine"
    ctest --preset mingw-tests -j2
fi
stage "done"
