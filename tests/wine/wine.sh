#!/usr/bin/env bash
# wine.sh: the one way this project runs Wine. Every wine and wineserver call goes through guard.sh (the
# host's serial device nodes hidden behind /dev/null) with a private prefix under the build tree, headless.
# See ../../shared/notes/wine.md for the facts behind each step.
#
#   wine.sh prefix PREFIX                 create the private prefix if it is not there yet (about 7 s)
#   wine.sh map PREFIX COMn PATH [...]    map COMn to PATH (HKLM\Software\Wine\Ports); a no-op when the
#                                         prefix already maps exactly so. Takes effect at the next start.
#   wine.sh start PREFIX                  start the wineserver and warm it up (one trivial program), unless
#                                         it is running already
#   wine.sh stop PREFIX                   stop the wineserver, wait for it, drop links to host tty devices
#   wine.sh run PREFIX PROGRAM [ARG...]   start (if needed), then run PROGRAM under wine64: the
#                                         CMAKE_CROSSCOMPILING_EMULATOR of the Windows test build
#
# Environment: TARN_WINE_PERSIST, the seconds the wineserver lingers after its last program has ended
# (default 60; "forever" keeps it until `stop`); WINEDEBUG (default -all); TARN_WINE64 and
# TARN_WINESERVER to choose the binaries. Exit status 125 when Wine is missing or the prefix is unusable.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
guard="$here/guard.sh"

die() {
    echo "wine.sh: $*" >&2
    exit 125
}

# Debian's wine64 package puts its loader in /usr/lib/wine and no command on PATH (the `wine` package
# adds the wrappers); both layouts work.
find_binary() {
    local override="$1" lib="$2" cmd="$3"
    if [ -n "$override" ]; then
        echo "$override"
    elif [ -x "$lib" ]; then
        echo "$lib"
    elif command -v "$cmd" >/dev/null 2>&1; then
        command -v "$cmd"
    else
        return 1
    fi
}
wine64="$(find_binary "${TARN_WINE64:-}" /usr/lib/wine/wine64 wine64)" ||
    die "wine64 not found (install it with tests/wine/install-deps.sh)"
wineserver="$(find_binary "${TARN_WINESERVER:-}" /usr/lib/wine/wineserver64 wineserver)" ||
    die "wineserver not found (install it with tests/wine/install-deps.sh)"

[ $# -ge 2 ] || die "usage: wine.sh prefix|map|start|stop|run PREFIX [...]"
command="$1"
prefix="$2"
shift 2
case "$prefix" in
/*/*) ;;
*) die "the prefix must be an absolute path below the build tree, not '$prefix'" ;;
esac
prefix="${prefix%/}"
[ "$prefix" != "${HOME:-}" ] || die "refusing to use the home directory as a prefix"
mkdir -p "$(dirname "$prefix")"
log="$prefix.log" # beside the prefix: wineserver, wineboot and warm-up output

export WINEPREFIX="$prefix" WINEARCH=win64 WINELOADER="$wine64" WINESERVER="$wineserver"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer, no menu entries: nothing but the program under test.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY # headless

# One caller at a time sets the prefix up or starts its server (ctest -j2 runs two programs at once).
# Descriptor 9 holds the lock; the long-lived processes (wineserver, Wine's services) are started with it
# closed, so that they never keep it.
lock() {
    exec 9>"$prefix.lock"
    flock -w 900 9 || die "timed out waiting for $prefix.lock"
}
unlock() {
    exec 9>&-
}

# wineserver as a Wine-side call: always through the guard.
server() {
    "$guard" "$wineserver" "$@" 9>&- </dev/null >>"$log" 2>&1
}

# Links of the prefix that point at host serial devices (Wine writes com1 -> /dev/ttyS0 at every start):
# removed whenever the server is down, so that no prefix left on disk names the console.
drop_host_tty_links() {
    local link target
    for link in "$prefix"/dosdevices/com*; do
        [ -L "$link" ] || continue
        target="$(readlink "$link")"
        case "$target" in
        /dev/ttyS* | /dev/ttyUSB* | /dev/ttyACM*) rm -f "$link" ;;
        esac
    done
}

create_prefix() {
    [ -f "$prefix/.tarn-prefix-ready" ] && return 0
    if [ -e "$prefix" ]; then # an earlier creation was interrupted: start over
        echo "wine.sh: removing the incomplete prefix $prefix" >&2
        rm -rf --one-file-system "$prefix"
    fi
    local start=$SECONDS
    echo "wine.sh: creating the private prefix $prefix (log: $log)" >&2
    "$guard" "$wine64" wineboot --init 9>&- </dev/null >>"$log" 2>&1 ||
        die "wineboot --init failed in $prefix (see $log)"
    server -w || true
    drop_host_tty_links
    touch "$prefix/.tarn-prefix-ready"
    echo "wine.sh: prefix ready after $((SECONDS - start)) s" >&2
}

start_server() {
    local persist="${TARN_WINE_PERSIST:-60}" option rc=0
    if [ "$persist" = forever ]; then option=-p; else option="-p$persist"; fi
    server "$option" || rc=$?
    case $rc in
    0) # a new server: run one trivial program so that Wine's background services start now, with their
        # output in the log, and not later holding the output pipe of the first real program (wine.md).
        "$guard" "$wine64" cmd /c exit 9>&- </dev/null >>"$log" 2>&1 ||
            die "the warm-up program failed in $prefix (see $log)"
        ;;
    2) ;; # already running (and warm: whoever started it warmed it up under this lock)
    *) die "wineserver $option failed with status $rc (see $log)" ;;
    esac
}

stop_server() {
    server -k || true # status 1 when none is running
    server -w || true
    drop_host_tty_links
}

# The prefix's current mapping of a port, from the registry file the wineserver saves.
mapped_to() {
    local port="$1"
    [ -f "$prefix/system.reg" ] || return 0
    awk -v port="\"$port\"" '
        /^\[/ { inside = ($0 ~ /^\[Software\\\\Wine\\\\Ports\]/) }
        inside && index($0, port "=") == 1 { value = substr($0, length(port) + 2); gsub(/^"|"$/, "", value); print value }
    ' "$prefix/system.reg"
}

map_ports() {
    if [ $# -eq 0 ] || [ $(($# % 2)) -ne 0 ]; then
        die "usage: wine.sh map PREFIX COMn PATH [COMn PATH ...]"
    fi
    local needed=() port path
    while [ $# -gt 0 ]; do
        port="$1" path="$2"
        shift 2
        case "$port" in
        COM[1-4]) die "refusing to map $port: COM1 to COM4 are never used under Wine (wine.md)" ;;
        COM[0-9] | COM[0-9][0-9] | COM[0-9][0-9][0-9]) ;;
        *) die "not a port name: '$port'" ;;
        esac
        case "$path" in
        /*) ;;
        *) die "the path of $port must be absolute, not '$path'" ;;
        esac
        [ "$(mapped_to "$port")" = "$path" ] || needed+=("$port" "$path")
    done
    [ ${#needed[@]} -gt 0 ] || return 0
    start_server
    set -- "${needed[@]}"
    while [ $# -gt 0 ]; do
        "$guard" "$wine64" reg add 'HKLM\Software\Wine\Ports' /v "$1" /t REG_SZ /d "$2" /f \
            9>&- </dev/null >>"$log" 2>&1 || die "reg add of $1 failed (see $log)"
        shift 2
    done
    stop_server # the registry is saved and the links are written at the next start
}

case "$command" in
prefix)
    lock
    create_prefix
    ;;
map)
    lock
    create_prefix
    map_ports "$@"
    ;;
start)
    lock
    create_prefix
    start_server
    ;;
stop)
    lock
    stop_server
    ;;
run)
    [ $# -ge 1 ] || die "usage: wine.sh run PREFIX PROGRAM [ARG...]"
    lock
    create_prefix
    start_server
    unlock
    exec "$guard" "$wine64" "$@"
    ;;
*)
    die "unknown command '$command' (prefix, map, start, stop or run)"
    ;;
esac
