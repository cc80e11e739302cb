// The POSIX terminal: one poll over the line, the keyboard and the signals,
// up to the --timeout. Keys are read into the key queue in every wait (here
// and in the line's waits inside a request); this loop acts on them, and on
// a run that is decided, once a wait returned.
#include <poll.h>
#include <unistd.h>

#include "base/console.h"
#include "base/keys.h"
#include "base/settings.h"
#include "base/time_limit.h"
#include "link/link.h"
#include "posix/console.h"
#include "posix/port.h"
#include "posix/stop.h"
#include "terminal/rules.h"
#include "terminal/term_loop.h"
#include "terminal/watch.h"

namespace tolvane {

namespace {

// How often a line that went away is looked for (-w).
constexpr int LINE_LOOK_MS = 250;

int keyboard_to_watch() { return console_keyboard_fd(); }

// Every byte already received, before the next key. A request may see
// Ctrl-Q and end early; the loop then quits. Once the run is decided the
// rest is left unread (the time-out is looked at once the buffer is done).
void serve_line() {
    while (port_buffered() > 0 && !quit_requested() && !term_text_decided()) term_from_line(link_get());
    if (port_buffered() == 0) term_line_quiet();
}

// -w: the line went away. Looks for it a few times a second, the keyboard
// watched for Ctrl-Q (other keys have no line to go to and are dropped).
void wait_for_line_back() {
    for (;;) {
        keys_clear();
        console_flush();
        pollfd fds[2] = {{keyboard_to_watch(), POLLIN, 0}, {stop_signal_fd(), POLLIN, 0}};
        const int n = poll(fds, 2, time_limit_wait_ms(LINE_LOOK_MS));
        stop_if_signalled();
        if (n > 0 && fds[0].revents) console_read_keys();
        if (quit_requested() || term_run_decided()) return;
        if (port_reopen()) {
            keys_clear();
            return;
        }
    }
}

}  // namespace

void term_loop() {
    console_enter_raw();
    port_watch_keyboard(true);
    port_wait_when_gone(wait_for_line);

    for (;;) {
        if (quit_requested()) term_quit();
        if (term_run_decided()) term_end_run();
        if (port_gone()) {
            wait_for_line_back();
            continue;
        }
        serve_line();  // what a network line received while it was set up
        if (quit_requested() || term_run_decided()) continue;
        term_send_texts();
        term_send_keys();
        port_send();
        console_flush();
        // Keys and texts still queued go out as soon as the line takes more.
        const bool output_waits = port_pending() > 0 || keys_queued() > 0 || watch_sends_due() > 0;
        const short line_events = static_cast<short>(POLLIN | (output_waits ? POLLOUT : 0));
        pollfd fds[3] = {{line_fd, line_events, 0}, {keyboard_to_watch(), POLLIN, 0}, {stop_signal_fd(), POLLIN, 0}};
        const int n = poll(fds, 3, time_limit_wait_ms(-1));
        stop_if_signalled();
        if (n <= 0) continue;

        // The line first, then the keyboard, in every pass.
        if (fds[0].revents & ~POLLOUT) port_fill();
        serve_line();
        if (fds[1].revents) console_read_keys();
    }
}

}  // namespace tolvane
