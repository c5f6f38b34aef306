// The 8250/16550 UART registers and bits, by their standard names (in the manner of Linux's
// include/uapi/linux/serial_reg.h), as the module's tests and probes use them. The one place where register
// offsets and bit values are written down: the module, the simulator and the tests all use these names.
#pragma once

// Offsets from the UART's I/O base.
#define UART_RX 0  /* In:  Receive buffer register (RBR) */
#define UART_TX 0  /* Out: Transmit holding register (THR) */
#define UART_DLL 0 /* Out: Divisor latch low byte, while LCR.DLAB is set */
#define UART_IER 1 /* Out: Interrupt enable register */
#define UART_DLM 1 /* Out: Divisor latch high byte, while LCR.DLAB is set */
#define UART_IIR 2 /* In:  Interrupt identification register */
#define UART_FCR 2 /* Out: FIFO control register */
#define UART_LCR 3 /* Out: Line control register */
#define UART_MCR 4 /* Out: Modem control register */
#define UART_LSR 5 /* In:  Line status register */
#define UART_MSR 6 /* In:  Modem status register */
#define UART_SCR 7 /* I/O: Scratch register */
#define UART_REGISTER_COUNT 8

#define UART_IER_OFF 0x00 /* all UART interrupts disabled */

#define UART_IIR_NO_INT 0x01       /* no interrupt pending */
#define UART_IIR_FIFO_ENABLED 0xC0 /* the FIFOs are on (both bits on a 16550A) */

#define UART_FCR_ENABLE_FIFO 0x01 /* FIFOs on; changing this bit clears them */
#define UART_FCR_R_TRIG_10 0x80   /* receive interrupt at 8 bytes in the FIFO */
#define UART_FCR_OFF 0x00         /* FIFOs off: a 16450's way of working */

#define UART_LCR_WLEN8 0x03 /* 8 data bits */
#define UART_LCR_STOP 0x04  /* 2 stop bits (1.5 for 5-bit words) */
#define UART_LCR_PARITY 0x08
#define UART_LCR_DLAB 0x80 /* Divisor latch access bit */

#define UART_MCR_DTR 0x01
#define UART_MCR_RTS 0x02
#define UART_MCR_OUT1 0x04
#define UART_MCR_OUT2 0x08
#define UART_MCR_LOOP 0x10    /* internal loopback */
#define UART_MCR_OUTPUTS 0x0F /* DTR, RTS, OUT1, OUT2 */
#define UART_MCR_NS_MODE 0xE0 /* banked NS UART in extended mode: operating mode, 0 = plain UART */

#define UART_LSR_DR 0x01   /* Data ready */
#define UART_LSR_OE 0x02   /* Overrun error */
#define UART_LSR_PE 0x04   /* Parity error */
#define UART_LSR_FE 0x08   /* Framing error */
#define UART_LSR_BI 0x10   /* Break interrupt */
#define UART_LSR_THRE 0x20 /* Transmit holding register empty */
#define UART_LSR_TEMT 0x40 /* Transmitter empty */

#define UART_MSR_DCTS 0x01
#define UART_MSR_DDSR 0x02
#define UART_MSR_TERI 0x04
#define UART_MSR_DDCD 0x08
#define UART_MSR_CTS 0x10
#define UART_MSR_DSR 0x20
#define UART_MSR_RI 0x40
#define UART_MSR_DCD 0x80
#define UART_MSR_INPUTS_SHIFT 4 /* the module compares MSR >> 4 */

// The banked National Semiconductor UART, which the infrared probe recognises: values written to LCR
// select extra banks.
#define UART_NS_BANK_SELECT 0x80 /* an LCR value with this bit clear selects bank 0 */
#define UART_NS_BANK2 0xE0       /* bank 2: offset 2 is EXCR1 */
#define UART_NS_BANK3 0xE4       /* bank 3: offset 0 is the identification register */
#define UART_NS_BANK4 0xE8       /* bank 4: offset 2 is IRCR1 */
#define UART_NS_ID 0             /* bank 3: identification register */
#define UART_NS_ID_MASK 0xF0     /* its upper four bits identify the design */
#define UART_NS_ID_1 0x10
#define UART_NS_ID_2 0x20
#define UART_NS_ID_3 0x30
#define UART_NS_IRCR1 2 /* bank 4: infrared control register */
#define UART_NS_IRCR1_IR_MODE 0x0C
#define UART_NS_EXCR1 2 /* bank 2: extended control register */
#define UART_NS_EXCR1_EXT_MODE 0x01

#define UART_BASE_BAUD 115200 /* a divisor of 1 gives 115200 bit/s */
