#!/bin/busybox sh
# /init of the QEMU test's guest (tests/qemu/run-qemu-test.sh packs it into the initramfs).
# It runs the plan (/plan.sh, written by run-qemu-test.sh: calls of run_watched) and prints everything the
# host checks on the console (ttyS0, 0x3F8) between marker lines, then powers off.
# Nothing here touches ttyS0 beyond printing on it as the kernel's console; the programs under test get
# explicit --device selections and their output goes to files, never to the console device.
/bin/busybox --install -s
export PATH=/bin:/sbin:/usr/bin:/usr/sbin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev # Debian's kernel does not mount it by itself
mkdir -p /tmp
echo 1 >/proc/sys/kernel/printk # keep kernel messages from cutting into the printed reports

mark() { echo "=====$* uptime=$(cut -d' ' -f1 /proc/uptime)====="; }
section() { # NAME FILE: the file between BEGIN and END lines, only when it exists
    [ -f "$2" ] || return 0
    echo "=====$1 BEGIN====="
    cat "$2"
    echo
    echo "=====$1 END====="
}
# run_watched ID SECONDS PROGRAM ARGS...: runs PROGRAM under iowatch with a time limit; prints its
# standard output and error, the iowatch summary and the report /tmp/ID.json if the program wrote one.
run_watched() {
    id=$1 limit=$2
    shift 2
    echo "=====$id COMMAND $*====="
    mark "$id START"
    timeout "$limit" /iowatch "/tmp/$id.watch" "$@" >"/tmp/$id.out" 2>"/tmp/$id.err" </dev/null
    rc=$?
    mark "$id END rc=$rc"
    section "$id STDOUT" "/tmp/$id.out"
    section "$id STDERR" "/tmp/$id.err"
    section "$id WATCH" "/tmp/$id.watch"
    section "$id REPORT" "/tmp/$id.json"
}

mark "GUEST START"
for tty in /sys/class/tty/ttyS*; do
    [ "$(cat "$tty/type")" = 0 ] && continue
    echo "=====TTY ${tty##*/} port=$(cat "$tty/port") irq=$(cat "$tty/irq") type=$(cat "$tty/type")====="
done
# shellcheck disable=SC1091 # written by run-qemu-test.sh into the initramfs
. /plan.sh
mark "GUEST DONE"
sync
poweroff -f
