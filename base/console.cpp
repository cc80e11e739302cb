// The console's output, the same in both programs: the target's bytes in
// batches and the program's own text, in the order they came, queued for
// standard output and for the session log and written as each takes them.
// Nothing here waits for them: a console nobody drains holds the bytes
// back (the loop then reads the line no further), and the ways out give
// them the quit patience at most.
#include "base/console.h"

#include <array>
#include <cassert>
#include <cstdarg>
#include <cstring>

#include "base/console_platform.h"
#include "base/wait.h"
#include "base/output_queue.h"
#include "base/session_log.h"
#include "base/stop.h"
#include "base/text_format.h"

namespace tolvane {

unsigned wait_events_now(unsigned events, deadline until) {
    if ((events & WAIT_TEXT) && console_backed_up()) console_flush();
    if ((events & WAIT_TEXT) && !console_backed_up()) events |= WAIT_INPUT;
    assert((events & (WAIT_INPUT | WAIT_OUTPUT)) || console_backlog() > 0 || !until.is_never());
    (void)until;
    return events;
}

namespace console_state {
bool backed_up = false;
}

namespace {

struct console_output {
    std::array<unsigned char, 16384> batch;  // target bytes not queued yet
    size_t batched = 0;
    output_queue screen;
    int last_shown = '\n';  // the last byte shown
    bool crlf = false;
    bool error_crlf = false;
    bool ended = false;
};

// LF as CR LF, where the terminal no longer does it.
std::string with_crlf(const std::string& text) {
    std::string shown = text;
    for (size_t at = 0; (at = shown.find('\n', at)) != std::string::npos; at += 2) shown.insert(at, 1, '\r');
    return shown;
}
console_output out;

// The batch into the queues, in the order it came.
void queue_batch() {
    if (out.batched == 0) return;
    out.screen.append(reinterpret_cast<const char*>(out.batch.data()), out.batched);
    session_log_write(reinterpret_cast<const char*>(out.batch.data()), out.batched);
    out.batched = 0;
}

}  // namespace

void console_put(int byte) {
    if (out.batched == out.batch.size()) console_flush();
    out.batch[out.batched++] = static_cast<unsigned char>(byte);
    out.last_shown = byte & 0xFF;
}

void console_flush() {
    queue_batch();
    // A console that has gone away takes nothing more; the line is still served.
    out.screen.send(console_write_out);
    session_log_send();
    console_state::backed_up = console_backlog() > CONSOLE_BACKLOG_MAX;
}

size_t console_screen_pending() { return out.screen.pending() + console_out_in_flight(); }

size_t console_backlog() { return console_screen_pending() + session_log_pending(); }

void console_print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = format_text(format, args);
    va_end(args);
    if (text.empty()) return;
    queue_batch();
    if (out.crlf || console_text_crlf) {
        const std::string shown = with_crlf(text);
        out.screen.append(shown.data(), shown.size());
    } else {
        out.screen.append(text.data(), text.size());
    }
    out.last_shown = static_cast<unsigned char>(text.back());
    // The log is a text file: its lines end in LF whatever the console needs.
    session_log_write(text.data(), text.size());
    console_flush();
}

void console_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = format_text(format, args);
    va_end(args);
    if (text.empty()) return;
    // What the console shows so far goes first, as far as it is taken now.
    console_flush();
    const std::string shown = out.error_crlf || console_text_crlf ? with_crlf(text) : text;
    console_write_error(shown.data(), shown.size());
    // A terminal shared with standard output is on a line of its own now.
    if (out.error_crlf) out.last_shown = static_cast<unsigned char>(text.back());
    session_log_write(text.data(), text.size());
    session_log_send();
}

void console_control(const char* bytes) {
    queue_batch();
    out.screen.append(bytes, std::strlen(bytes));
    out.last_shown = '\n';
    console_flush();
}

void console_start_line() {
    if (out.last_shown != '\n') console_print("\n");
}

const char* console_line_end() { return out.crlf ? "\r\n" : "\n"; }

void console_set_crlf(bool crlf) { out.crlf = crlf; }

void console_set_error_crlf(bool crlf) { out.error_crlf = crlf; }

void console_drain(int ms) {
    const deadline until = deadline::in(ms);
    console_flush();
    while (console_backlog() > 0 && !until.passed()) {
        console_wait_writable(console_screen_pending() > 0, session_log_pending() > 0, until);
        console_flush();
    }
}

void stop_if_console_closed() {
    if (console_out_broken() && !out.ended) stop_now(CONSOLE_CLOSED_STATUS);
}

void console_end() {
    if (out.ended) return;
    out.ended = true;
    console_start_line();
    session_log_end();
    console_drain(CONSOLE_PATIENCE_MS);
    session_log_close();
    out.screen.drop();
}

}  // namespace tolvane
