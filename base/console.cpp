// The console's part that both programs share: the program's own text.
#include <cstdarg>

#include "base/console.h"
#include "base/console_platform.h"
#include "base/session_log.h"
#include "base/text_format.h"

namespace tolvane {

int console_last_shown = '\n';

void console_print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = format_text(format, args);
    va_end(args);
    if (text.empty()) return;
    console_show_text(text);
    console_last_shown = static_cast<unsigned char>(text.back());
    session_log_write(text.data(), text.size());
}

void console_start_line() {
    if (console_last_shown != '\n') console_print("\n");
}

}  // namespace tolvane
