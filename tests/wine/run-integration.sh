#!/usr/bin/env bash
# run-integration.sh PROGRAM STANDIN WORK [--update]: the Windows program under Wine, on Wine's own COM layer
# (README.md). COM5 is a pseudo-terminal whose far end echoes every byte (a loopback plug without modem
# lines), COM6 one whose far end reads and drops everything; they are the only ports mapped. The runs of
# cases.json take the program as shipped (nodriver/) or beside the InpOut stand-in (standin/), each run in a
# folder of its own, WORK/out/NAME; then what they left is compared with the cases, or written into them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=$1 standin=$2 work=$3
shift 3
prefix=$work/prefix
mkdir -p "$work/ports" "$work/nodriver" "$work/standin"
cp "$program" "$work/nodriver/tarnserialport.exe"
cp "$program" "$work/standin/tarnserialport.exe"
cp "$standin" "$work/standin/inpoutx64.dll" # the backend loads the DLL from the program's own folder

socat_pids=()
finish() {
    # The wineserver first: when socat goes first, the server gets a hangup and floods its log.
    "$here/wine.sh" stop "$prefix" || true
    kill "${socat_pids[@]}" 2>/dev/null || true
}
trap finish EXIT
"$here/wine.sh" stop "$prefix" # a server left behind by a run that was killed
rm -f "$work"/ports/*
# raw,echo=0: otherwise XON/XOFF is on and the bytes 0x11 and 0x13 are swallowed.
socat pty,raw,echo=0,link="$work/ports/com5" pipe </dev/null &
socat_pids+=($!)
socat -u pty,raw,echo=0,link="$work/ports/com6" open:/dev/null </dev/null &
socat_pids+=($!)
for _ in $(seq 100); do
    [ -e "$work/ports/com5" ] && [ -e "$work/ports/com6" ] && break
    sleep 0.05
done
"$here/wine.sh" map "$prefix" COM5 "$work/ports/com5" COM6 "$work/ports/com6"
# A server that outlives this script (killed by ctest's time-out) ends 30 s after its last program.
TARN_WINE_PERSIST=30 "$here/wine.sh" start "$prefix"

# The running wineserver of this prefix must see every host serial device as /dev/null.
servers=$(for pid in $(pgrep -x 'wineserver.*'); do
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qx "WINEPREFIX=$prefix" && echo "$pid"; done || true)
[ "$(echo "$servers" | wc -w)" = 1 ] || { echo "not one wineserver for $prefix: $servers" >&2; exit 1; }
# shellcheck disable=SC2016 # expanded in the server's namespace
nsenter -t "$servers" -m sh -c 'for d in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
    [ ! -e "$d" ] || [ "$(stat -L -c %t:%T "$d")" = "$(stat -L -c %t:%T /dev/null)" ] || exit 1; done' ||
    { echo "the wineserver $servers sees a host serial device: not guarded" >&2; exit 1; }

run() { # NAME PROGRAM ARG...: PROGRAM (under WORK) with a time limit; output and exit status in WORK/out/NAME
    local name=$1 program=$work/$2 rc=0
    shift 2
    rm -rf "$work/out/$name" && mkdir -p "$work/out/$name"
    (cd "$work/out/$name" && timeout -k 5 120 "$here/wine.sh" run "$prefix" "$program" "$@" </dev/null \
        >stdout 2>stderr) || rc=$?
    echo $rc >"$work/out/$name/exit"
}
python3 "$here/../qemu/golden.py" "$here/cases.json" --plan "$work/plan.sh"
# shellcheck disable=SC1091 # written just above
. "$work/plan.sh"
python3 "$here/../qemu/golden.py" "$here/cases.json" --out "$work/out" "$@"
