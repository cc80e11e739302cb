/* Reset and exceptions of a Cortex-M3: the vector table, RAM set up, main. */
#include <stdint.h>

#include "uart.h"

extern uint32_t __data_load[], __data_start[], __data_end[];
extern uint32_t __bss_start[], __bss_end[];
extern uint32_t __stack_top[];

int main(void);
void reset_handler(void);
void fault_handler(void);

void reset_handler(void) {
    const uint32_t* from = __data_load;
    for (uint32_t* to = __data_start; to < __data_end;) *to++ = *from++;
    for (uint32_t* to = __bss_start; to < __bss_end;) *to++ = 0;
    main();
    for (;;) {
    }
}

void fault_handler(void) {
    uart_fault();
    for (;;) {
    }
}

typedef void (*vector)(void);

/* The core loads the stack pointer and the reset address from here. No
 * interrupt but SysTick is used, so the table stops at the core's 16. */
__attribute__((section(".vectors"), used)) static const vector vectors[16] = {
    (vector)(uintptr_t)__stack_top,
    reset_handler,
    fault_handler, /* NMI */
    fault_handler, /* HardFault */
    fault_handler, /* MemManage */
    fault_handler, /* BusFault */
    fault_handler, /* UsageFault */
    0, 0, 0, 0,
    fault_handler, /* SVCall */
    fault_handler, /* DebugMonitor */
    0,
    fault_handler, /* PendSV */
    systick_handler,
};
