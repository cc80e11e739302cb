// The POSIX console's output and the session log's file, never waiting for
// a reader: a pipe, FIFO or terminal is written through a descriptor of its
// own in non-blocking mode (standard output's own flags are left alone, as
// the shell shares them), a socket with MSG_DONTWAIT, a file as it is.
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/console_platform.h"
#include "posix/console.h"
#include "posix/fd_transport.h"

namespace tolvane {

namespace {

enum class output_kind { file, own_descriptor, socket, polled };

// Standard output as it was found; looked at again whenever it changed
// (a test that redirects it, say).
struct console_file {
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
    output_kind kind = output_kind::file;
    int fd = STDOUT_FILENO;
};
console_file screen;

int log_fd = -1;

void forget_screen() {
    if (screen.kind == output_kind::own_descriptor) close(screen.fd);
    screen = console_file{};
}

void find_screen() {
    struct stat st;
    if (fstat(STDOUT_FILENO, &st) != 0) {
        forget_screen();
        screen.known = true;
        return;
    }
    if (screen.known && st.st_dev == screen.device && st.st_ino == screen.inode) return;
    forget_screen();
    screen.known = true;
    screen.device = st.st_dev;
    screen.inode = st.st_ino;
    if (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)) return;
    if (S_ISSOCK(st.st_mode)) {
        screen.kind = output_kind::socket;
        return;
    }
    const int own = open("/proc/self/fd/1", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (own >= 0) {
        screen.kind = output_kind::own_descriptor;
        screen.fd = own;
    } else {
        screen.kind = output_kind::polled;  // no /proc: a pipe takes PIPE_BUF when poll says so
    }
}

long taken(ssize_t n) {
    if (n >= 0) return n;
    return worth_retrying(errno) ? 0 : -1;
}

}  // namespace

const bool console_text_crlf = false;

int console_out_fd() {
    find_screen();
    return screen.fd;
}

int log_out_fd() { return log_fd; }

size_t console_out_in_flight() { return 0; }

namespace {

bool screen_broken = false;

long write_screen(const unsigned char* bytes, size_t count) {
    switch (screen.kind) {
    case output_kind::socket: return taken(send(screen.fd, bytes, count, MSG_DONTWAIT | MSG_NOSIGNAL));
    case output_kind::polled: {
        pollfd p{screen.fd, POLLOUT, 0};
        if (poll(&p, 1, 0) <= 0) return 0;
        return taken(write(screen.fd, bytes, count < PIPE_BUF ? count : PIPE_BUF));
    }
    case output_kind::file:
    case output_kind::own_descriptor: break;
    }
    return taken(write(screen.fd, bytes, count));
}

}  // namespace

long console_write_out(const unsigned char* bytes, size_t count) {
    find_screen();
    const long n = write_screen(bytes, count);
    if (n < 0 && (errno == EPIPE || errno == ECONNRESET)) screen_broken = true;
    return n;
}

bool console_out_broken() { return screen_broken; }

void console_write_error(const char* text, size_t count) {
    const deadline patience = deadline::in(500);
    while (count > 0 && !patience.passed()) {
        const ssize_t n = write(STDERR_FILENO, text, count);
        if (n > 0) {
            text += n;
            count -= static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{STDERR_FILENO, POLLOUT, 0};
            poll(&p, 1, patience.left_ms());
        } else if (!(n < 0 && errno == EINTR)) {
            return;
        }
    }
}

bool log_file_open(const char* path, bool* ends_line) {
    // Read and write: a FIFO then opens without waiting for a reader, and the
    // last byte of an earlier run can be read.
    log_fd = open(path, O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (log_fd < 0) return false;
    struct stat st;
    unsigned char last = '\n';
    if (fstat(log_fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        if (pread(log_fd, &last, 1, st.st_size - 1) != 1) last = '\n';
    }
    *ends_line = last == '\n';
    return true;
}

long log_file_write(const unsigned char* bytes, size_t count) { return taken(write(log_fd, bytes, count)); }

void log_file_close() {
    if (log_fd >= 0) close(log_fd);
    log_fd = -1;
}

void console_wait_writable(bool screen_waits, bool log_waits, deadline until) {
    pollfd fds[2] = {{screen_waits ? console_out_fd() : -1, POLLOUT, 0}, {log_waits ? log_fd : -1, POLLOUT, 0}};
    poll(fds, 2, until.left_ms());
}

}  // namespace tolvane
