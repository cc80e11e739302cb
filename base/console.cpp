// The console's part that both programs share: the program's own text.
#include <cstdarg>

#include "base/console.h"
#include "base/console_platform.h"
#include "base/session_log.h"
#include "base/text_format.h"

namespace tolvane {

int console_last_shown = '\n';
bool console_crlf = false;
unsigned long console_line_reads = 0;

void console_print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = format_text(format, args);
    va_end(args);
    if (text.empty()) return;
    if (console_crlf) {
        std::string shown = text;
        for (size_t at = 0; (at = shown.find('\n', at)) != std::string::npos; at += 2) shown.insert(at, 1, '\r');
        console_show_text(shown);
    } else {
        console_show_text(text);
    }
    console_last_shown = static_cast<unsigned char>(text.back());
    // The log is a text file: its lines end in LF whatever the console needs.
    session_log_write(text.data(), text.size());
}

void console_start_line() {
    if (console_last_shown != '\n') console_print("\n");
}

const char* console_line_end() { return console_crlf ? "\r\n" : "\n"; }

void console_end() {
    static bool ended = false;
    if (ended) return;
    ended = true;
    console_start_line();
    console_flush();
    session_log_end();
}

}  // namespace tolvane
