/* The board's serial line: UART0 of the mps2-an385 (a CMSDK APB UART),
 * polled, and a millisecond clock from SysTick for time-outs. */
#ifndef UART_H
#define UART_H

#include <stdint.h>

void uart_init(void);
void uart_putc(int byte);
void uart_puts(const char* text);
int uart_getc(void);                       /* waits as long as it takes */
int uart_getc_within(uint32_t milliseconds); /* -1 when nothing came */
void uart_fault(void);  /* reports a fault, if the host is there to see it */
uint32_t uart_milliseconds(void);          /* since uart_init */

/* QEMU's pty loses its input for good if the board writes while the host
 * is still opening the line: stays silent until the host's reset (50
 * backspaces) arrives, and lets the rest of it pass. */
void uart_wait_for_host(void);

void systick_handler(void);

#endif
