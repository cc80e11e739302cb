// The console and the way out for the fuzz targets: nothing reaches the
// terminal, but every message is still formatted, so the sanitizers check
// what the trace and the messages hand to printf.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "app/host.h"
#include "terminal/console.h"

namespace tolvane {

void console_put(int) {}
void console_flush() {}

void console_print(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
}

void console_set_raw(bool) {}

// Only Ctrl-Q on the keyboard ends the program, and no target types keys
// here: reaching this is a fault of its own.
void host_quit() {
    std::fputs("host_quit reached without a keyboard\n", stderr);
    std::abort();
}

}  // namespace tolvane
