// The console's output, the same in both programs: the target's bytes in
// batches written by the platform, the program's own text through stdio,
// each in the order it came, and all of it copied to the session log.
#include "base/console.h"

#include <array>
#include <cstdarg>
#include <cstdio>

#include "base/console_platform.h"
#include "base/session_log.h"
#include "base/text_format.h"

namespace tolvane {

namespace {

struct console_output {
    std::array<unsigned char, 16384> batch;
    size_t batched = 0;
    int last_shown = '\n';  // the last byte shown
    bool crlf = false;
    bool ended = false;
};
console_output out;

}  // namespace

void console_put(int byte) {
    if (out.batched == out.batch.size()) console_flush();
    out.batch[out.batched++] = static_cast<unsigned char>(byte);
    out.last_shown = byte & 0xFF;
}

void console_flush() {
    if (out.batched == 0) return;
    std::fflush(stdout);  // the program's own text before it
    console_write_out(out.batch.data(), out.batched);
    session_log_write(reinterpret_cast<const char*>(out.batch.data()), out.batched);
    out.batched = 0;
}

void console_print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = format_text(format, args);
    va_end(args);
    if (text.empty()) return;
    console_flush();
    if (out.crlf) {
        std::string shown = text;
        for (size_t at = 0; (at = shown.find('\n', at)) != std::string::npos; at += 2) shown.insert(at, 1, '\r');
        std::fwrite(shown.data(), 1, shown.size(), stdout);
    } else {
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
    std::fflush(stdout);
    out.last_shown = static_cast<unsigned char>(text.back());
    // The log is a text file: its lines end in LF whatever the console needs.
    session_log_write(text.data(), text.size());
}

void console_start_line() {
    if (out.last_shown != '\n') console_print("\n");
}

const char* console_line_end() { return out.crlf ? "\r\n" : "\n"; }

void console_set_crlf(bool crlf) { out.crlf = crlf; }

void console_end() {
    if (out.ended) return;
    out.ended = true;
    console_start_line();
    console_flush();
    session_log_end();
}

}  // namespace tolvane
