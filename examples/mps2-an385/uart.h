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

void systick_handler(void);

#endif
