// The Windows console: target bytes go to the console itself, the program's
// text to standard output. The console keeps turning LF into CR LF.
#include <conio.h>

#include <cstdio>

#include "terminal/console.h"
#include "terminal/console_platform.h"
#include "terminal/session_log.h"

namespace tolvane {

void console_put(int byte) {
    _putch(byte);
    console_last_shown = byte & 0xFF;
    const char b = static_cast<char>(byte);
    session_log_write(&b, 1);
}

void console_flush() {}

void console_show_text(std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void console_set_raw(bool) {}

}  // namespace tolvane
