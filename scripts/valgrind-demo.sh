#!/usr/bin/env bash
# The demo (all five tests on the built-in simulated port) under valgrind's memcheck: no memory error and no
# definitely or indirectly lost block, or the script fails. What the module creates once and keeps until the
# process ends (the framework's registry of tests, events, strings and parameters; the loggers) is still
# reachable at exit, which is not an error; scripts/valgrind.supp names what may be suppressed beyond that.
# Usage: scripts/valgrind-demo.sh [extra tarnserialport arguments]   (build: build/valgrind, Debug)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh valgrind
build=build/valgrind
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target tarnserialport
# glibc 2.36 picks AVX2/EVEX versions of wmemcmp that load 32 bytes at a time, past the end of a short
# std::wstring's block (harmless: within the page); valgrind 3.19 does not replace them and reports each
# load as an invalid read (std::wstring == L"baud" in os/CommDcbText.cpp). Selecting glibc's SSE versions
# removes these false reports without suppressing anything; valgrind then checks every load of ours.
export GLIBC_TUNABLES="${GLIBC_TUNABLES:+$GLIBC_TUNABLES:}glibc.cpu.hwcaps=-AVX2"
exec valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect,possible \
    --errors-for-leak-kinds=definite,indirect --error-exitcode=1 --track-origins=yes \
    --suppressions=scripts/valgrind.supp \
    "$build/tarnserialport" --sim --no-progress "$@"
