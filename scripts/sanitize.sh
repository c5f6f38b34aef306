#!/usr/bin/env bash
# The whole test suite under AddressSanitizer + UndefinedBehaviorSanitizer (the `asan` preset: build/asan):
# the case files, the unit tests and the replay of the fuzz inputs; not the QEMU and Wine integration tests,
# whose programs run in a guest (static, so never sanitized) or under Wine.
# Any sanitizer report fails its test (-fno-sanitize-recover=all); a leak at exit fails it too.
# Usage: scripts/sanitize.sh [extra ctest arguments, e.g. -R Fault_]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan -LE 'qemu|wine' -j"$(nproc)" "$@"
