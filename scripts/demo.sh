#!/usr/bin/env bash
# The main job: build tarnserialport and run all five tests on the built-in simulated port (a healthy
# 16550A with a loopback plug). Extra arguments go to the program, e.g. scripts/demo.sh --sim examples/modem.json
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target tarnserialport
if [ $# -eq 0 ]; then set -- --sim; fi
exec build/release/tarnserialport "$@"
