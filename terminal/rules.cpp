#include "terminal/rules.h"

#include <cstdio>
#include <cstring>

#include "base/console.h"
#include "base/deadline.h"
#include "base/keyboard.h"
#include "base/keys.h"
#include "base/line.h"
#include "base/session_stats.h"
#include "base/time_limit.h"
#include "base/wait.h"
#include "link/link.h"
#include "terminal/commands.h"
#include "terminal/demux.h"
#include "terminal/session.h"
#include "terminal/display.h"
#include "terminal/events.h"
#include "terminal/lend.h"
#include "terminal/outgoing.h"
#include "terminal/share.h"
#include "terminal/watch.h"

namespace tolvane {

namespace {

// A key may take two bytes on the line: DLE and the byte, or CR LF for
// an LF (--map ONLCRNL), never both.
constexpr size_t KEY_BYTES_MAX = 2;

// The Backspace key as --backspace asks; the key maps then; the echo
// shows what went to the line, a line end as a whole new line.
void send_key(session& s, int key) {
    if (key == KEYBOARD_BACKSPACE) key = display_settings().backspace;
    unsigned char bytes[DISPLAY_KEY_MAX];
    const size_t count = display_map_key(key, bytes);
    for (size_t i = 0; i < count; ++i) {
        outgoing_put(s, bytes[i]);
        if (!display_settings().local_echo) continue;
        if (bytes[i] == '\r' || bytes[i] == '\n') {
            if (i + 1 < count) continue;  // the CR of CR LF: one new line for both
            console_put('\r');
            console_put('\n');
        } else {
            console_put(bytes[i]);
        }
    }
}


// Every end of the terminal: what is queued for the line (due texts, keys
// typed before the end) gets QUIT_PATIENCE_MS to leave.
[[noreturn]] void leave(session& s, int status) {
    const deadline patience = deadline::in(QUIT_PATIENCE_MS);
    demux_reset(s);  // a request in progress is given up, its reply too
    line_take_last_output(s.line);
    for (;;) {
        term_send_texts(s);
        term_send_keys(s);
        if (keys_queued(s.keys) == 0 && watch_sends_due(s.watch) == 0 && outgoing_held(s) == 0) break;
        if (patience.passed()) break;
        // Paced bytes go at their moments, within the same patience.
        if (outgoing_held(s) > 0 && !outgoing_line_full(s))
            wait_line_only(s.line, 0, outgoing_due(s).sooner(patience));
        else if (!line_wait_room(s.line, patience.left_ms()))
            break;
    }
    share_close(s);
    events_close(s);
    line_end_program(s.line, status, patience.left_ms());
}

}  // namespace

// Seconds as a person writes them: 60, 0.5, 1.25.
void term_say_timed_out(const session& s) {
    char seconds[64];
    std::snprintf(seconds, sizeof seconds, "%.3f", time_limit_seconds());
    char* end = seconds + std::strlen(seconds);
    while (end[-1] == '0') *--end = '\0';
    if (end[-1] == '.') end[-1] = '\0';
    console_start_line();
    const std::string awaited = watch_awaited(s.watch);
    if (awaited.empty())
        console_error("timed out after %s s\n", seconds);
    else
        console_error("timed out after %s s (waiting for %s)\n", seconds, awaited.c_str());
}

namespace {

// Matched as it came, before any display map, and shown; a form feed only
// in the hex view, which shows every byte.
void show_and_match(watch_state& w, int byte) {
    if (byte != FORM_FEED) {
        watch_put(w, byte);
        display_text(byte);
    } else if (display_settings().hex) {
        display_text(FORM_FEED);
    }
}

}  // namespace

void term_text(session& s, int byte) {
    show_and_match(s.watch, byte);
    const unsigned char as_sent = static_cast<unsigned char>(byte);
    share_board_bytes(s, &as_sent, 1);
    events_text(s, &as_sent, 1);
}

size_t term_text_run(session& s, const unsigned char* bytes, size_t count) {
    size_t taken = 0;
    for (; taken < count && !term_text_decided(s) && !console_backed_up(); ++taken) {
        const unsigned char byte = bytes[taken];
        if (byte == BYTE_STX || byte == BYTE_ETX || byte == BYTE_DLE) break;
        show_and_match(s.watch, byte);
    }
    share_board_bytes(s, bytes, taken);
    events_text(s, bytes, taken);
    return taken;
}

void term_line_quiet(session& s) { watch_line_quiet(s.watch); }

void term_board_exited(session& s, long status) {
    if (keyboard_is_terminal() && !watch_has_patterns(s.watch) && time_limit_seconds() <= 0) {
        console_start_line();
        console_print("the board exited with status %ld\n", status);
        return;
    }
    s.board_status = status >= 0 && status <= 255 ? static_cast<int>(status) : 255;
}

void term_send_keys(session& s) {
    for (int next; (next = keys_peek(s.keys)) >= 0;) {
        if (next & KEY_COMMAND) {
            keys_take(s.keys);
            if ((next & 0xFF) == KEY_COMMAND_FLASH)
                lend_flash(s);  // the session's to lend
            else
                command_run(s, next & 0xFF);  // in its place among the keys
            if (line_gone(s.line)) break;
        } else if (command_prompt_open(s)) {
            command_prompt_key(s, keys_take(s.keys));
        } else if (outgoing_room(s) >= KEY_BYTES_MAX) {
            send_key(s, keys_take(s.keys));
        } else {
            break;
        }
    }
    // The clients' bytes after the keys typed here, as far as the line takes them.
    while (keys_queued(s.keys) == 0 && !command_prompt_open(s) && outgoing_room(s) >= KEY_BYTES_MAX) {
        const int byte = share_take_byte(s);
        if (byte < 0) break;
        send_key(s, byte);
    }
    outgoing_send(s);
}

void term_send_texts(session& s) {
    while (watch_sends_due(s.watch) > 0 && outgoing_room(s) >= KEY_BYTES_MAX) outgoing_put(s, watch_take_send(s.watch));
    outgoing_send(s);
}

void term_quit(session& s) { leave(s, 0); }

bool term_run_decided(const session& s) {
    return watch_outcome(s.watch) != watch_result::running || s.board_status >= 0 || time_limit_passed();
}

void term_end_run(session& s) {
    switch (watch_outcome(s.watch)) {
    case watch_result::failed:
        console_start_line();
        console_error("failed: %s\n", watch_failed_line(s.watch).c_str());
        events_run_end(s, "failed", watch_failed_line(s.watch));
        leave(s, EXIT_FAILED);
    case watch_result::passed:
        console_start_line();  // the expected text may have come without its line end
        events_look_at_watch(s);
        leave(s, 0);
    case watch_result::running:
        break;
    }
    if (s.board_status >= 0) leave(s, s.board_status);
    term_say_timed_out(s);
    events_run_end(s, "timeout", "");
    leave(s, EXIT_TIMED_OUT);
}

}  // namespace tolvane
