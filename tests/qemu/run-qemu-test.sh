#!/usr/bin/env bash
# run-qemu-test.sh PROGRAM JAIL WORK [--update]: the QEMU integration test (README.md). One boot runs the
# static PROGRAM on the cases of cases.json, each inside JAIL; then what the runs left is compared with
# what the cases expect, or, with --update, written into them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$3"
python3 "$here/golden.py" "$here/cases.json" --plan "$3/plan.sh"
"$here/guest.sh" "$3" 3 "tarnserialport=$1" "jail=$2" "uart-state=$here/uart-state.sh" "$3/plan.sh"
python3 "$here/golden.py" "$here/cases.json" --out "$3/out" "${@:4}"
