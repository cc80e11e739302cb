// The Windows console: target bytes go to the console itself, the program's
// text to standard output. The console keeps turning LF into CR LF.
#include <conio.h>

#include <cstdarg>
#include <cstdio>

#include "terminal/console.h"
#include "terminal/session_log.h"
#include "terminal/text_format.h"

namespace tolvane {

namespace {

int last_shown = '\n';

}  // namespace

void console_put(int byte) {
    _putch(byte);
    last_shown = byte & 0xFF;
    const char b = static_cast<char>(byte);
    session_log_write(&b, 1);
}

void console_flush() {}

void console_print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = format_text(format, args);
    va_end(args);
    if (!text.empty()) last_shown = static_cast<unsigned char>(text.back());
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    session_log_write(text.data(), text.size());
}

void console_start_line() {
    if (last_shown != '\n') console_print("\n");
}

void console_set_raw(bool) {}

}  // namespace tolvane
