/* UART0 of the mps2-an385, polled; SysTick counts milliseconds. Also the
 * two raw functions the client library calls. */
#include "uart.h"

#include "client/hostfs.h"

#define REG(address) (*(volatile uint32_t*)(address))

#define UART_DATA REG(0x40004000u)
#define UART_STATE REG(0x40004004u)
#define UART_CTRL REG(0x40004008u)
#define UART_BAUDDIV REG(0x40004010u)
#define STATE_TX_FULL 1u
#define STATE_RX_FULL 2u
#define CTRL_TX_ENABLE 1u
#define CTRL_RX_ENABLE 2u

#define SYST_CSR REG(0xE000E010u)
#define SYST_RVR REG(0xE000E014u)
#define SYST_CVR REG(0xE000E018u)
#define SYST_ON_WITH_INTERRUPT_FROM_CPU_CLOCK 7u

#define CPU_HZ 25000000u /* the board's system clock */
#define BAUD 115200u

/* Within a request the host answers at once; this long a silence means it
 * is not there (not started, or gone). */
#define HOST_TIMEOUT_MS 5000u

static volatile uint32_t milliseconds;
static int host_heard;

void systick_handler(void) { ++milliseconds; }

void uart_init(void) {
    UART_BAUDDIV = CPU_HZ / BAUD;
    UART_CTRL = CTRL_TX_ENABLE | CTRL_RX_ENABLE;
    SYST_RVR = CPU_HZ / 1000u - 1u;
    SYST_CVR = 0;
    SYST_CSR = SYST_ON_WITH_INTERRUPT_FROM_CPU_CLOCK;
}

void uart_putc(int byte) {
    while (UART_STATE & STATE_TX_FULL) {
    }
    UART_DATA = (uint32_t)byte & 0xFFu;
}

void uart_puts(const char* text) {
    while (*text) uart_putc((unsigned char)*text++);
}

static int take_byte(void) {
    host_heard = 1;
    return (int)(UART_DATA & 0xFFu);
}

int uart_getc(void) {
    while (!(UART_STATE & STATE_RX_FULL)) {
    }
    return take_byte();
}

int uart_getc_within(uint32_t timeout) {
    const uint32_t start = milliseconds;
    while (!(UART_STATE & STATE_RX_FULL)) {
        if (milliseconds - start >= timeout) return -1;
    }
    return take_byte();
}

uint32_t uart_milliseconds(void) { return milliseconds; }

void uart_wait_for_host(void) {
    while (uart_getc() != '\b') {
    }
    while (uart_getc_within(200) >= 0) {
    }
}

void uart_fault(void) {
    /* Never write before the host has: see main. */
    if (host_heard) uart_puts("\r\nFAIL: fault\r\n");
}

/* The client library's line. -1 tells it that the host is not there: the
 * call in progress ends with its failure value. */
int link_get_raw(void) { return uart_getc_within(HOST_TIMEOUT_MS); }

void link_put_raw(int byte) { uart_putc(byte); }
