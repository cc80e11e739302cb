// The terminal: one wait over the line, the keyboard and the signals, up to
// the --timeout. Keys are read into the key queue in every wait (here and
// in the line's waits inside a request); this loop acts on them, and on a
// run that is decided, once a wait returned.
#include "terminal/term_loop.h"

#include "base/console.h"
#include "base/deadline.h"
#include "base/keyboard.h"
#include "base/keys.h"
#include "base/line.h"
#include "base/wait.h"
#include "link/link.h"
#include "terminal/rules.h"
#include "terminal/watch.h"

namespace tolvane {

namespace {

// How often a line that went away is looked for (-w).
constexpr int LINE_LOOK_MS = 250;

// Every byte already received, before the next key. A request may see
// Ctrl-Q and end early; the loop then quits. Once the run is decided the
// rest is left unread (the time-out is looked at once the buffer is done).
// A console that takes nothing holds the rest back: the board then waits.
void serve_line() {
    while (line_buffered() > 0 && !quit_requested() && !term_text_decided() && !console_backed_up()) {
        // Plain text in hand goes in one run; the rest symbol by symbol.
        const unsigned char* run = nullptr;
        const size_t in_hand = line_in_hand(&run);
        const size_t taken = in_hand > 0 ? term_text_run(run, in_hand) : 0;
        if (taken > 0)
            line_take(taken);
        else
            term_from_line(link_get());
    }
    if (line_buffered() == 0) term_line_quiet();
}

// -w: the line went away. Looks for it a few times a second, the keyboard
// watched for Ctrl-Q and the commands (keys have no line to go to and are
// dropped).
void wait_for_line_back() {
    for (;;) {
        keys_without_line();
        wait_once(0, deadline::in(LINE_LOOK_MS));
        if (quit_requested() || term_run_decided()) return;
        if (line_reopen()) {
            keys_without_line();
            return;
        }
    }
}

}  // namespace

void term_loop(bool wait_when_gone) {
    keyboard_take();
    wait_watch_keyboard(true);
    line_wait_when_gone(wait_when_gone);

    for (;;) {
        if (quit_requested()) term_quit();
        if (term_run_decided()) term_end_run();
        if (line_gone()) {
            wait_for_line_back();
            continue;
        }
        serve_line();  // what a network line received while it was set up
        if (quit_requested() || term_run_decided()) continue;
        term_send_texts();
        term_send_keys();
        line_send();
        if (line_gone()) continue;
        // Keys and texts still queued go out as soon as the line takes more;
        // the line is read only while the console keeps up.
        const bool output_waits = line_pending() > 0 || keys_queued() > 0 || watch_sends_due() > 0;
        const bool console_keeps_up = !console_backed_up();
        wait_once((console_keeps_up ? WAIT_INPUT : 0u) | (output_waits ? WAIT_OUTPUT : 0u), deadline::never());
        if (console_keeps_up) line_fill();
    }
}

}  // namespace tolvane
