#!/bin/sh
# uart-state.sh TTY BASE: what the guest's own 8250 driver and its UART hold for one port, for the proof that
# the program leaves a port as it found it: the terminal settings (stty -g) and the registers the tests
# change (LCR, the divisor latch through DLAB, IER, IIR's FIFO bits, MCR, the scratch register), read
# through /dev/port.
# uart-state.sh TTY BASE byte: then one byte through the port by the driver, at the port's own rate and
# frame (only echo and line editing off, so that the looped-back byte is read, not echoed out again).
tty=$1 base=$(($2))
reg() { dd if=/dev/port bs=1 skip=$((base + $1)) count=1 2>/dev/null | od -An -tu1 | tr -d ' '; }
setreg() { printf "\\$(printf %o "$2")" | dd of=/dev/port bs=1 seek=$((base + $1)) conv=notrunc 2>/dev/null; }
hex() { printf '0x%02X' "$1"; }
echo "stty: $(stty -F "/dev/$tty" -g)"
lcr=$(reg 3)
setreg 3 $((lcr | 0x80))
dll=$(reg 0) dlm=$(reg 1)
setreg 3 "$lcr"
echo "lcr=$(hex "$lcr") dll=$(hex "$dll") dlm=$(hex "$dlm") ier=$(hex "$(reg 1)") fifos=$(hex $(($(reg 2) & 0xC0))) mcr=$(hex "$(reg 4)") scr=$(hex "$(reg 7)")"
if [ "${3:-}" = byte ]; then
    exec 3<>"/dev/$tty"
    stty -F "/dev/$tty" -echo -icanon min 0 time 20
    printf Z >&3
    echo "byte back: $(dd bs=1 count=1 <&3 2>/dev/null)"
fi
