#!/usr/bin/env bash
# wine.sh: the one way this project runs Wine. Every wine and wineserver call goes through guard.sh (the
# host's serial device nodes hidden behind /dev/null) with a private prefix, headless.
#
#   wine.sh map PREFIX COMn PATH [...]    map COMn to PATH (HKLM\Software\Wine\Ports); COM1-COM4 refused
#   wine.sh start PREFIX                  start the wineserver, unless it runs, and warm it up
#   wine.sh stop PREFIX                   stop the wineserver, wait for it, drop links to host tty devices
#   wine.sh run PREFIX PROGRAM [ARG...]   run PROGRAM under wine64 (the prefix made and the server started
#                                         first); the Windows test build's CMAKE_CROSSCOMPILING_EMULATOR
#
# A start of Wine that ends without any output and with a status other than 0 is Wine's fault, not the
# program's: run tries once more, and when the second start dies the same way it says so with the end of
# Wine's own log, PREFIX.log (the prefix's creation, the wineserver, the warm-up). The program's output is
# passed on when it has ended. Environment: TARN_WINE_PERSIST, the seconds the wineserver stays after its
# last program (default 60); WINEDEBUG (default -all). Exit status 125 when Wine is missing or fails.
set -euo pipefail
guard="$(cd "$(dirname "$0")" && pwd)/guard.sh"
die() {
    echo "wine.sh: $*" >&2
    exit 125
}
# Debian's wine64 package puts its loader in /usr/lib/wine, and no command on PATH.
first() { for c; do command -v "$c" && return; done; return 1; }
wine64=$(first /usr/lib/wine/wine64 wine64) || die "wine64 not found (tests/wine/install-deps.sh)"
wineserver=$(first /usr/lib/wine/wineserver64 wineserver) || die "wineserver not found"
[ $# -ge 2 ] || die "usage: wine.sh map|start|stop|run PREFIX [...]"
command=$1 prefix=${2%/}
shift 2
case $prefix in /*/*) ;; *) die "the prefix must be an absolute path in the build tree, not '$prefix'" ;; esac
mkdir -p "$(dirname "$prefix")"
log=$prefix.log
export WINEPREFIX=$prefix WINEARCH=win64 WINELOADER=$wine64 WINESERVER=$wineserver
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" # no Mono, Gecko or menu entries
unset DISPLAY WAYLAND_DISPLAY

# One caller at a time makes the prefix or starts its server (ctest runs several programs at once). The
# server and Wine's services are started with descriptor 9 closed, so that they never hold the lock.
exec 9>"$prefix.lock"
flock -w 900 9 || die "timed out waiting for $prefix.lock"
guarded() { "$guard" "$@" 9>&- </dev/null >>"$log" 2>&1; }

# Wine writes com1 -> /dev/ttyS0 and so on at every server start: dropped whenever the server is down, so that
# no prefix left on disk names the console.
drop_host_tty_links() {
    local link
    for link in "$prefix"/dosdevices/com*; do
        case $(readlink "$link" || true) in /dev/ttyS* | /dev/ttyUSB* | /dev/ttyACM*) rm -f "$link" ;; esac
    done
}
stop_server() {
    guarded "$wineserver" -k || true # 1 when none runs
    guarded "$wineserver" -w || true
    drop_host_tty_links
}
start_server() {
    if [ ! -f "$prefix/.tarn-ready" ]; then
        rm -rf --one-file-system "$prefix" # an interrupted creation starts over
        echo "wine.sh: creating the private prefix $prefix" >&2
        guarded "$wine64" wineboot --init || die "wineboot --init failed (see $log)"
        stop_server
        touch "$prefix/.tarn-ready"
    fi
    local rc=0
    guarded "$wineserver" "-p${TARN_WINE_PERSIST:-60}" || rc=$?
    # A new server: one trivial program starts Wine's services now, so that they do not hold the output of
    # the first real program open for seconds.
    case $rc in
    0) guarded "$wine64" cmd /c exit || die "the warm-up program failed (see $log)" ;;
    2) ;; # already running
    *) die "wineserver failed with status $rc (see $log)" ;;
    esac
}

case $command in
map)
    [ $# -gt 0 ] && [ $(($# % 2)) = 0 ] || die "usage: wine.sh map PREFIX COMn PATH [...]"
    start_server
    while [ $# -gt 0 ]; do
        case $1 in COM[1-4]) die "refusing to map $1: COM1 to COM4 are never used under Wine" ;; esac
        guarded "$wine64" reg add 'HKLM\Software\Wine\Ports' /v "$1" /t REG_SZ /d "$2" /f ||
            die "reg add $1 failed (see $log)"
        shift 2
    done
    stop_server # the mapping is written to disk now and takes effect at the next start
    ;;
start) start_server ;;
stop) stop_server ;;
run)
    start_server
    exec 9>&-
    out=$(mktemp -d)
    trap 'rm -rf "$out"' EXIT
    for attempt in 1 2; do
        rc=0
        "$guard" "$wine64" "$@" >"$out/stdout" 2>"$out/stderr" || rc=$?
        [ $rc = 0 ] || [ -s "$out/stdout" ] || [ -s "$out/stderr" ] || [ $attempt = 2 ] || continue
        break
    done
    cat "$out/stdout"
    cat "$out/stderr" >&2
    if [ "$rc" != 0 ] && [ ! -s "$out/stdout" ] && [ ! -s "$out/stderr" ]; then
        echo "wine.sh: $1 ended twice with status $rc and no output: Wine did not start it. $log ends:" >&2
        tail -20 "$log" >&2
    fi
    exit "$rc"
    ;;
*) die "unknown command '$command' (map, start, stop or run)" ;;
esac
