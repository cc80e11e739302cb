// The Windows console: target bytes go to the console itself, the program's
// text to standard output. The console keeps turning LF into CR LF.
#include <conio.h>

#include <cstdarg>
#include <cstdio>

#include "terminal/console.h"

namespace tolvane {

void console_put(int byte) { _putch(byte); }

void console_flush() {}

void console_print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

void console_set_raw(bool) {}

}  // namespace tolvane
