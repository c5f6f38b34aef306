#!/bin/sh
# guard.sh COMMAND [ARG...]: run COMMAND in a private mount namespace in which the host's serial device
# nodes (/dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*) are /dev/null.
#
# Why: every time a wineserver starts, Wine maps COM1..COMn to the host's /dev/ttyS*, and /dev/ttyS0 of
# this kind of machine is its console. Every wine and wineserver call of this project goes through this
# guard; the wineserver is the process that opens the files, so it is started inside the guard too (it keeps
# the namespace for its whole life). A failed bind mount, or a device node that is still not /dev/null
# afterwards, aborts with exit status 97 and runs nothing.
if [ "$#" -eq 0 ]; then
    echo "guard.sh: no command given (usage: guard.sh COMMAND [ARG...])" >&2
    exit 2
fi
# shellcheck disable=SC2016 # the inner script expands its own variables
exec unshare -m --propagation private sh -c '
    null_id=$(stat -L -c "%t:%T" /dev/null) || exit 97
    for d in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
        [ -e "$d" ] || continue
        mount --bind /dev/null "$d" || { echo "guard.sh: cannot hide $d" >&2; exit 97; }
        [ "$(stat -L -c "%t:%T" "$d")" = "$null_id" ] || { echo "guard.sh: $d is not hidden" >&2; exit 97; }
    done
    exec "$@"' guard "$@"
