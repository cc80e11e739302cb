#include "sim/line.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/link.h"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

// While no host is there the master reports a hang-up at once, so that
// state is watched by looking again now and then.
constexpr int DETACHED_LOOK_MS = 50;

int master_fd = -1;
std::string slave_path;
int stop_fd = -1;
bool attached = false;
int reply_timeout_ms = 2000;
LineFailure failure = LineFailure::none;

// A bare STX went out and the host's bare ETX has not come back yet.
bool reply_awaited = false;
Clock::time_point reply_deadline;
// Escapes seen on the raw bytes, to tell frame marks from data.
bool out_escape = false;
bool in_escape = false;

void fail(LineFailure why) {
    if (failure == LineFailure::none) failure = why;
}

int ms_until(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool stop_requested() {
    pollfd p{stop_fd, POLLIN, 0};
    return stop_fd >= 0 && poll(&p, 1, 0) > 0;
}

short master_events(short wanted) {
    pollfd p{master_fd, wanted, 0};
    return poll(&p, 1, 0) > 0 ? p.revents : 0;
}

bool host_present() { return !(master_events(POLLOUT) & (POLLHUP | POLLERR)); }

// Opening the slave ourselves is the only way to empty its input queue.
void flush_slave_input() {
    const int fd = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    tcflush(fd, TCIFLUSH);
    close(fd);
}

bool make_slave_raw() {
    const int fd = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct termios t;
    bool ok = tcgetattr(fd, &t) == 0;
    if (ok) {
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        ok = tcsetattr(fd, TCSANOW, &t) == 0;
    }
    tcflush(fd, TCIOFLUSH);
    close(fd);
    return ok;
}

void note_sent(int byte) {
    if (out_escape) {
        out_escape = false;
    } else if (byte == tolvane::BYTE_DLE) {
        out_escape = true;
    } else if (byte == tolvane::BYTE_STX) {
        reply_awaited = true;
        reply_deadline = Clock::now() + std::chrono::milliseconds(reply_timeout_ms);
    }
}

void note_received(int byte) {
    if (in_escape) {
        in_escape = false;
    } else if (byte == tolvane::BYTE_DLE) {
        in_escape = true;
    } else if (byte == tolvane::BYTE_ETX) {
        reply_awaited = false;
    }
}

// Sleeps until the master can be read (or has hung up), a signal comes, or
// the host's first answer is overdue.
void wait_readable() {
    pollfd p[2] = {{master_fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
    const int timeout = reply_awaited ? ms_until(reply_deadline) : -1;
    const int n = poll(p, 2, timeout);
    if (n < 0 && errno == EINTR) return;
    if (p[1].revents) fail(LineFailure::stopped);
    else if (n == 0) fail(LineFailure::no_answer);
}

// Sleeps until the master takes more output, the host goes, or a signal.
void wait_writable() {
    pollfd p[2] = {{master_fd, POLLOUT, 0}, {stop_fd, POLLIN, 0}};
    if (poll(p, 2, -1) < 0) return;
    if (p[1].revents) fail(LineFailure::stopped);
}

}  // namespace

std::string line_open() {
    master_fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_fd < 0 || grantpt(master_fd) != 0 || unlockpt(master_fd) != 0) {
        std::fprintf(stderr, "tolvane-sim: no pseudo-terminal: %s\n", std::strerror(errno));
        return "";
    }
    fcntl(master_fd, F_SETFL, fcntl(master_fd, F_GETFL) | O_NONBLOCK);
    fcntl(master_fd, F_SETFD, FD_CLOEXEC);
    const char* name = ptsname(master_fd);
    slave_path = name ? name : "";
    if (slave_path.empty() || !make_slave_raw()) {
        std::fprintf(stderr, "tolvane-sim: cannot set up the pseudo-terminal: %s\n", std::strerror(errno));
        return "";
    }
    attached = false;
    return slave_path;
}

void line_set_stop_fd(int fd) { stop_fd = fd; }

void line_set_reply_timeout(int milliseconds) { reply_timeout_ms = milliseconds; }

LineEvent line_wait() {
    line_clear_failure();
    for (;;) {
        if (stop_requested()) return LineEvent::stop;
        if (!attached) {
            // A host that came and went quickly (tolvane -q) may have left
            // bytes behind; they count as its visit.
            const short r = master_events(POLLIN);
            if ((r & POLLIN) || !(r & POLLHUP)) {
                attached = true;
                return LineEvent::attached;
            }
            pollfd p{stop_fd, POLLIN, 0};
            poll(&p, 1, DETACHED_LOOK_MS);
            continue;
        }
        pollfd p[2] = {{master_fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) continue;
        if (p[1].revents) return LineEvent::stop;
        if (p[0].revents & POLLIN) return LineEvent::input;
        if (p[0].revents & (POLLHUP | POLLERR)) {
            attached = false;
            in_escape = out_escape = false;  // the next host starts afresh
            flush_slave_input();
            return LineEvent::detached;
        }
    }
}

LineFailure line_failure() { return failure; }

void line_clear_failure() {
    failure = LineFailure::none;
    reply_awaited = false;
}

}  // namespace sim

namespace tolvane {

int link_get_raw() {
    for (;;) {
        if (sim::failure != sim::LineFailure::none) return BYTE_ETX;
        unsigned char b;
        const ssize_t n = read(sim::master_fd, &b, 1);
        if (n == 1) {
            sim::note_received(b);
            return b;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            sim::wait_readable();
        } else {
            sim::fail(sim::LineFailure::host_gone);  // EIO: the slave was closed
        }
    }
}

void link_put_raw(int byte) {
    sim::note_sent(byte);
    for (;;) {
        if (sim::failure != sim::LineFailure::none || !sim::host_present()) return;
        const unsigned char b = static_cast<unsigned char>(byte);
        const ssize_t n = write(sim::master_fd, &b, 1);
        if (n == 1) return;
        if (n < 0 && errno == EAGAIN) {
            sim::wait_writable();
        } else if (!(n < 0 && errno == EINTR)) {
            return;  // lost, as on a real wire
        }
    }
}

}  // namespace tolvane
