#!/usr/bin/env bash
# Installs what the fuzz targets need beyond scripts/install-deps.sh (as root; a no-op for what is there):
# Debian 12's clang 14 and its compiler runtime (libFuzzer, AddressSanitizer, UBSan).
# Then: cmake --preset fuzz && cmake --build --preset fuzz && ctest --preset fuzz
set -euo pipefail
cd "$(dirname "$0")/../.."
exec scripts/install-deps.sh clang-14 clang libclang-rt-14-dev
