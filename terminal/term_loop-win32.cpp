// The Windows terminal: one wait over the port, the keyboard and the
// --timeout (win32/line.h). Keys are read into the key queue in every wait
// (here and in a request's waits); this loop acts on them, and on a run
// that is decided, once a wait returned.
#include "base/console.h"
#include "base/keys.h"
#include "base/settings.h"
#include "link/link.h"
#include "terminal/rules.h"
#include "terminal/term_loop.h"
#include "terminal/watch.h"
#include "win32/console.h"
#include "win32/line.h"

namespace tolvane {

namespace {

// How often a port that went away is looked for (-w).
constexpr int LINE_LOOK_MS = 250;

// Every byte already received, before the next key. A request may see
// Ctrl-Q and end early; the loop then quits. Once the run is decided the
// rest is left unread.
void serve_line() {
    while (line_buffered() > 0 && !quit_requested() && !term_text_decided()) term_from_line(link_get());
    if (line_buffered() == 0) term_line_quiet();
}

// -w: the port went away. Looks for it a few times a second, the keyboard
// watched for Ctrl-Q (other keys have no line to go to and are dropped).
void wait_for_line_back() {
    for (;;) {
        keys_clear();
        line_wait(LINE_LOOK_MS);
        if (quit_requested() || term_run_decided()) return;
        if (line_reopen()) {
            keys_clear();
            return;
        }
    }
}

}  // namespace

void term_loop() {
    console_take_input();
    line_watch_keyboard(true);
    line_wait_when_gone(wait_for_line);
    for (;;) {
        if (quit_requested()) term_quit();
        if (term_run_decided()) term_end_run();
        if (line_gone()) {
            wait_for_line_back();
            continue;
        }
        serve_line();
        if (quit_requested() || term_run_decided()) continue;
        term_send_texts();
        term_send_keys();
        line_wait(-1);
    }
}

}  // namespace tolvane
