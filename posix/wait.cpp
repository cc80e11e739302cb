// The POSIX program's one wait: poll over the line, the keyboard and the
// signal pipe, up to the --timeout. The signal pipe is always watched: a
// signal that came after the last look but before poll would otherwise
// leave poll asleep for good.
#include "base/wait.h"

#include <poll.h>

#include "base/console.h"
#include "base/keys.h"
#include "base/line.h"
#include "base/time_limit.h"
#include "posix/console.h"
#include "posix/fd_transport.h"
#include "posix/signals.h"
#include "posix/wait.h"

namespace tolvane {

namespace {

bool keyboard_watched = false;

// The line's descriptor, -1 while there is none. Every transport of this
// program is an fd_transport.
int line_fd() {
    const line_transport* line = line_transport_now();
    return line ? static_cast<const fd_transport*>(line)->fd : -1;
}

short poll_events(unsigned events) {
    return static_cast<short>((events & WAIT_INPUT ? POLLIN : 0) | (events & WAIT_OUTPUT ? POLLOUT : 0));
}

// One poll: fd for events (-1: none), the keyboard while it is watched,
// the signals. Keys are read, a signal ends the program. True when fd is
// ready.
bool poll_once(int fd, short events, deadline until) {
    console_flush();  // what the target said so far shows while we wait
    const int keyboard = keyboard_watched ? console_keyboard_fd() : -1;
    pollfd fds[3] = {{events ? fd : -1, events, 0}, {stop_signal_fd(), POLLIN, 0}, {keyboard, POLLIN, 0}};
    const int n = poll(fds, 3, time_limit_cut(until).left_ms());
    stop_if_signalled();
    if (n <= 0) return false;
    if (fds[2].revents) console_read_keys();
    return fds[0].revents != 0;
}

}  // namespace

void wait_watch_keyboard(bool watch) { keyboard_watched = watch; }

bool wait_once(unsigned events, deadline until) { return poll_once(line_fd(), poll_events(events), until); }

bool wait_line_only(unsigned events, deadline until) {
    pollfd p{events ? line_fd() : -1, poll_events(events), 0};
    return poll(&p, 1, until.left_ms()) > 0;
}

bool wait_fd_ready(int fd, short events, deadline until) {
    for (;;) {
        if (quit_requested() || time_limit_passed() || until.passed()) return false;
        if (poll_once(fd, events, until)) return true;
    }
}

}  // namespace tolvane
