// The POSIX program's one wait: poll over the line, the keyboard and the
// signal pipe, up to the --timeout. The signal pipe is always watched: a
// signal that came after the last look but before poll would otherwise
// leave poll asleep for good.
#include "base/wait.h"

#include <poll.h>

#include "base/console.h"
#include "base/session_log.h"
#include "base/keys.h"
#include "base/line.h"
#include "base/time_limit.h"
#include "posix/console.h"
#include "posix/fd_transport.h"
#include "posix/signals.h"
#include "posix/wait.h"

namespace tolvane {

namespace {

// The line's descriptor, as its transport hands it in; -1 while there is
// none.
int line_fd(const line_state& line) {
    wait_set set;
    if (line_transport* transport = line_transport_now(line)) transport->add_waits(&set);
    return set.fd;
}

short poll_events(unsigned events) {
    return static_cast<short>((events & WAIT_INPUT ? POLLIN : 0) | (events & WAIT_OUTPUT ? POLLOUT : 0));
}

// The console's and the log's descriptors while bytes wait for them, else
// none.
void console_fds(pollfd* fds) {
    fds[0] = {console_screen_pending() > 0 ? console_out_fd() : -1, POLLOUT, 0};
    fds[1] = {session_log_pending() > 0 ? log_out_fd() : -1, POLLOUT, 0};
}

// One poll: fd for line_events (-1: none), the console's output, the
// keyboard while it is watched, the signals. Keys are read, a signal ends
// the program. True when fd is ready.
// in_hand: the line's bytes are there already, poll only looks.
bool poll_once(const wait_watch& watch, int fd, short line_events, deadline until, bool in_hand = false) {
    console_flush();  // what the target said so far shows while we wait
    stop_if_console_closed();
    const int keyboard = watch.keyboard && watch.keys ? console_keyboard_fd(*watch.keys) : -1;
    constexpr size_t OWN = 5;
    pollfd fds[OWN + wait_set::OTHERS_MAX] = {
        {line_events ? fd : -1, line_events, 0}, {stop_signal_fd(), POLLIN, 0}, {keyboard, POLLIN, 0}};
    console_fds(fds + 3);
    wait_set others;
    if (watch.party) watch.party->add_waits(&others);
    for (size_t i = 0; i < others.other_count; ++i) fds[OWN + i] = others.others[i];
    const int n = poll(fds, static_cast<nfds_t>(OWN + others.other_count), in_hand ? 0 : time_limit_cut(until).left_ms());
    stop_if_signalled();
    if (n > 0 && fds[2].revents) console_read_keys(*watch.keys);
    for (size_t i = 0; i < others.other_count; ++i) others.others[i].revents = n > 0 ? fds[OWN + i].revents : 0;
    if (watch.party) watch.party->after_wait(others);
    return in_hand || (n > 0 && fds[0].revents != 0);
}

}  // namespace

bool wait_once(line_state& line, unsigned events, deadline until) {
    events = wait_events_now(events, until);
    return poll_once(line.watch, line_fd(line), poll_events(events), until, line_input_in_hand(line, events));
}

bool wait_line_only(line_state& line, unsigned events, deadline until) {
    const short line_events = poll_events(events);
    pollfd fds[3] = {{line_events ? line_fd(line) : -1, line_events, 0}};
    console_fds(fds + 1);
    return poll(fds, 3, until.left_ms()) > 0 && fds[0].revents != 0;
}

bool wait_fd_ready(const wait_watch& watch, int fd, short events, deadline until) {
    for (;;) {
        if (quit_requested() || time_limit_passed() || until.passed()) return false;
        if (poll_once(watch, fd, events, until)) return true;
    }
}

}  // namespace tolvane
