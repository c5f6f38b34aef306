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
#     standin-com5:  with the InpOut stand-in (inpout_standin.cpp) beside it, the two external tests on COM5;
#     standin-com6:  with the stand-in, ExternalLoopbackTest on COM6.
#   No file the program writes may be named COMn.* (nor CON, NUL, AUX, PRN, LPTn): Windows, and so Wine,
#   opens the device of that name instead, in any folder ("out\com5.json" is the port COM5).
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
: >"$prefix.log" 2>/dev/null || true # this run's Wine output only
"$here/wine.sh" prefix "$prefix"

step "ports: COM5 -> $com5 (echo), COM6 -> $com6 (nothing attached)"
rm -f "$com5" "$com6"
# raw,echo=0 always: otherwise XON/XOFF is on and 0x11 and 0x13 are swallowed (wine.md).
# -x -v: every byte both ways in socat-com5.log, to tell what the program sent from what came back.
socat -x -v pty,raw,echo=0,link="$com5" pipe </dev/null >"$out/socat-com5.log" 2>&1 &
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
if [ ! -L "$com5" ] || [ ! -L "$com6" ]; then
    echo "socat did not create $com5 and $com6" >&2
    exit 1
fi

"$here/wine.sh" map "$prefix" COM5 "$com5" COM6 "$com6"
step "wineserver start and warm-up"
# A finite linger: if ctest kills this script on its time-out (no trap runs then), the server still ends
# by itself 30 s after the last Windows program; in a normal run it is stopped below, before socat.
TARN_WINE_PERSIST=30 "$here/wine.sh" start "$prefix"
# The running wineserver of this prefix must see the host's serial devices as /dev/null.
server_pids=()
for proc in /proc/[0-9]*; do
    case "$(cat "$proc/comm" 2>/dev/null)" in wineserver*) ;; *) continue ;; esac
    tr '\0' '\n' <"$proc/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix" && server_pids+=("${proc#/proc/}")
done
if [ ${#server_pids[@]} -ne 1 ]; then
    echo "expected one wineserver for $prefix, found ${#server_pids[@]}" >&2
    exit 1
fi
# shellcheck disable=SC2016 # expanded inside the server's namespace
if ! nsenter -t "${server_pids[0]}" -m sh -c 'null=$(stat -L -c %t:%T /dev/null)
        for d in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
            [ ! -e "$d" ] || [ "$(stat -L -c %t:%T "$d")" = "$null" ] || exit 1
        done'; then
    echo "the wineserver (pid ${server_pids[0]}) sees a host serial device: not guarded" >&2
    exit 1
fi
step "wineserver ${server_pids[0]} runs guarded: the host's serial devices are /dev/null in its namespace"
for port in com5 com6; do
    target="$(readlink "$prefix/dosdevices/$port" || true)"
    [ "$target" = "$work/ports/$port" ] || { echo "dosdevices/$port is '$target', not $work/ports/$port" >&2; exit 1; }
done

# A Unix path as the Windows program sees it: drive Z: is the root of the file system in every prefix.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Every Windows program runs with a time limit; its standard input is /dev/null (no prompt waits). The
# limits add up to well under the test's 300 s (a run takes 12 s at most when it works: nine 1-second
# passes), so that this script, not ctest, ends a hung program and cleans up after it.
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
run_windows probe-com5 20 "$probe" COM5 expect-echo
run_windows probe-com6 20 "$probe" COM6 expect-silence
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
run_windows nodriver-com5 45 "$work/nodriver/tarnserialport.exe" --device COM5 --answer ok --no-progress \
    --report "$(winpath "$out/nodriver-com5.json")" --log "$(winpath "$out/nodriver-com5.log")"
step "tarnserialport.exe with the InpOut stand-in: ExternalRegisterTest and ExternalLoopbackTest on COM5"
run_windows standin-com5 90 "$work/standin/tarnserialport.exe" --device COM5 \
    --test ExternalRegisterTest --test ExternalLoopbackTest --answer ok --no-progress \
    --report "$(winpath "$out/standin-com5.json")" --log "$(winpath "$out/standin-com5.log")"
step "tarnserialport.exe with the InpOut stand-in: ExternalLoopbackTest on COM6"
run_windows standin-com6 45 "$work/standin/tarnserialport.exe" --device COM6 --test ExternalLoopbackTest \
    --answer ok --no-progress --report "$(winpath "$out/standin-com6.json")" \
    --log "$(winpath "$out/standin-com6.log")"

step "checks"
python3 "$here/check_reports.py" --out "$out"
