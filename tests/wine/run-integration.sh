#!/usr/bin/env bash
# run-integration.sh: the Windows build on Wine against two pseudo-terminal ports.
#
#   COM5: a pseudo-terminal whose other end echoes every byte (a loopback plug without its modem lines)
#   COM6: a pseudo-terminal with nothing attached (what is written vanishes, nothing comes back)
#
# Usage: run-integration.sh --work DIR --probe PROBE.exe [--program tarnserialport.exe --standin inpoutx64.dll]
#   DIR holds the private prefix, the ports' link paths, the reports and the logs (under the build tree).
#   Without --program, only the probe runs. With it, three runs of the program, whose JSON reports
#   check_reports.py asserts:
#     nodriver-com5: as shipped (no InpOut under Wine), all five tests on COM5;
#     com5:          with the InpOut stand-in (inpout_standin.cpp) beside it, the two external tests on COM5;
#     com6:          with the stand-in, ExternalLoopbackTest on COM6.
#   Each variant runs from a folder of its own under DIR, so that the stand-in is never beside the build's
#   own tarnserialport.exe.
#
# Safety (../../shared/notes/wine.md): every Wine call goes through wine.sh (guard.sh and the private
# prefix); only COM5 and COM6 are mapped, and the program is always given --device COM5 or COM6.
# The wineserver is stopped before socat, on every way out.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
work="" probe="" program="" standin=""
while [ $# -gt 0 ]; do
    case "$1" in
    --work) work="$2" && shift 2 ;;
    --probe) probe="$2" && shift 2 ;;
    --program) program="$2" && shift 2 ;;
    --standin) standin="$2" && shift 2 ;;
    *) echo "run-integration.sh: unknown argument '$1'" >&2 && exit 2 ;;
    esac
done
if [ -z "$work" ] || [ -z "$probe" ] || { [ -n "$program" ] && [ -z "$standin" ]; }; then
    echo "usage: run-integration.sh --work DIR --probe PROBE.exe [--program EXE --standin DLL]" >&2
    exit 2
fi
for tool in socat python3 flock unshare timeout; do
    command -v "$tool" >/dev/null || { echo "run-integration.sh: $tool not found (tests/wine/install-deps.sh)" >&2; exit 2; }
done
case "$work" in /*) ;; *) work="$PWD/$work" ;; esac
mkdir -p "$work/ports" "$work/out"
prefix="$work/prefix"
com5="$work/ports/com5"
com6="$work/ports/com6"
out="$work/out"
rm -f "$out"/*

t0=$SECONDS
step() { echo "[$((SECONDS - t0)) s] $*"; }

# An earlier run that was killed may have left its server or its socat behind: end those (by the pids it
# wrote, and only if they are still that run's socat).
"$here/wine.sh" stop "$prefix"
for pidfile in "$work"/ports/*.pid; do
    [ -f "$pidfile" ] || continue
    pid="$(cat "$pidfile")"
    if [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q "socat .*link=$work/ports/"; then
        kill "$pid" 2>/dev/null || true
    fi
    rm -f "$pidfile"
done

socat_pids=()
cleanup() {
    local rc=$?
    # The wineserver first: with socat gone first, it gets a hangup and floods standard error (wine.md).
    "$here/wine.sh" stop "$prefix" || true
    for pid in "${socat_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -f "$work"/ports/*.pid
    exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step "prefix $prefix"
"$here/wine.sh" prefix "$prefix"

step "ports: COM5 -> $com5 (echo), COM6 -> $com6 (nothing attached)"
rm -f "$com5" "$com6"
# raw,echo=0 always: otherwise XON/XOFF is on and 0x11 and 0x13 are swallowed (wine.md).
socat pty,raw,echo=0,link="$com5" pipe </dev/null >"$out/socat-com5.log" 2>&1 &
socat_pids+=($!)
echo $! >"$work/ports/com5.pid"
# -u: only from the port to /dev/null. Whatever the program writes is read and dropped, so a write never
# blocks (the port's write time-out is 1000 ms); nothing is ever sent back.
socat -u pty,raw,echo=0,link="$com6" open:/dev/null </dev/null >"$out/socat-com6.log" 2>&1 &
socat_pids+=($!)
echo $! >"$work/ports/com6.pid"
for _ in $(seq 100); do
    [ -L "$com5" ] && [ -L "$com6" ] && break
    sleep 0.05
done
[ -L "$com5" ] && [ -L "$com6" ] || { echo "socat did not create $com5 and $com6" >&2; exit 1; }

"$here/wine.sh" map "$prefix" COM5 "$com5" COM6 "$com6"
step "wineserver start and warm-up"
TARN_WINE_PERSIST=forever "$here/wine.sh" start "$prefix"
for port in com5 com6; do
    target="$(readlink "$prefix/dosdevices/$port" || true)"
    [ "$target" = "$work/ports/$port" ] || { echo "dosdevices/$port is '$target', not $work/ports/$port" >&2; exit 1; }
done

# A Unix path as the Windows program sees it: drive Z: is the root of the file system in every prefix.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Every Windows program runs with a time limit; its standard input is /dev/null (no prompt waits).
run_windows() {
    local name="$1" limit="$2"
    shift 2
    local rc=0
    timeout -k 5 "$limit" "$here/wine.sh" run "$prefix" "$@" </dev/null >"$out/$name.out" 2>"$out/$name.err" || rc=$?
    echo "$rc" >"$out/$name.rc"
    step "$name: exit status $rc"
    return 0
}

step "probe"
run_windows probe-com5 60 "$probe" COM5 expect-echo
run_windows probe-com6 60 "$probe" COM6 expect-silence
probe_ok=1
for name in probe-com5 probe-com6; do
    if [ "$(cat "$out/$name.rc")" != 0 ]; then
        probe_ok=0
        echo "--- $name (the harness itself does not work):"
        cat "$out/$name.out" "$out/$name.err"
    fi
done
if [ -z "$program" ]; then
    [ $probe_ok = 1 ] && echo "probe: COM5 echoes and COM6 stays silent under Wine" && exit 0
    exit 1
fi
[ $probe_ok = 1 ] || exit 1

# The program in two folders: as built, and with the InpOut stand-in beside it (the backend loads
# inpoutx64.dll from the program's own folder).
rm -rf "$work/nodriver" "$work/standin"
mkdir -p "$work/nodriver" "$work/standin"
cp "$program" "$work/nodriver/tarnserialport.exe"
cp "$program" "$work/standin/tarnserialport.exe"
cp "$standin" "$work/standin/inpoutx64.dll"

step "tarnserialport.exe as shipped: all five tests on COM5"
run_windows nodriver-com5 120 "$work/nodriver/tarnserialport.exe" --device COM5 --answer ok --no-progress \
    --report "$(winpath "$out/nodriver-com5.json")" --log "$(winpath "$out/nodriver-com5.log")"
step "tarnserialport.exe with the InpOut stand-in: ExternalRegisterTest and ExternalLoopbackTest on COM5"
run_windows com5 240 "$work/standin/tarnserialport.exe" --device COM5 \
    --test ExternalRegisterTest --test ExternalLoopbackTest --answer ok --no-progress \
    --report "$(winpath "$out/com5.json")" --log "$(winpath "$out/com5.log")"
step "tarnserialport.exe with the InpOut stand-in: ExternalLoopbackTest on COM6"
run_windows com6 120 "$work/standin/tarnserialport.exe" --device COM6 --test ExternalLoopbackTest \
    --answer ok --no-progress --report "$(winpath "$out/com6.json")" --log "$(winpath "$out/com6.log")"

step "checks"
python3 "$here/check_reports.py" --out "$out"
