#include "posix/stop.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "base/console.h"

namespace tolvane {

namespace {

int signal_pipe[2] = {-1, -1};
volatile std::sig_atomic_t pending_signal = 0;
std::array<void (*)(), 4> restorers{};

void on_signal(int sig) {
    pending_signal = sig;
    const unsigned char b = static_cast<unsigned char>(sig);
    const int saved_errno = errno;
    if (write(signal_pipe[1], &b, 1) < 0) {
        // The flag alone still tells the next look.
    }
    errno = saved_errno;
}

}  // namespace

void stop_restore() {
    for (auto it = restorers.rbegin(); it != restorers.rend(); ++it) {
        if (*it) {
            void (*restore)() = *it;
            *it = nullptr;
            restore();
        }
    }
}

void stop_watch_signals() {
    if (signal_pipe[0] >= 0) return;
    if (pipe(signal_pipe) != 0) return;
    for (int fd : signal_pipe) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) sigaction(sig, &sa, nullptr);
    // A console that went away must not kill us before the line is restored.
    std::signal(SIGPIPE, SIG_IGN);
}

int stop_signal_fd() { return signal_pipe[0]; }

void stop_on_exit(void (*restore)()) {
    for (auto& slot : restorers) {
        if (slot == restore) return;
    }
    for (auto& slot : restorers) {
        if (!slot) {
            slot = restore;
            return;
        }
    }
}

void stop_forget(void (*restore)()) {
    for (auto& slot : restorers) {
        if (slot == restore) slot = nullptr;
    }
}

void stop_now(int status) {
    console_end();
    stop_restore();
    std::fflush(stdout);
    std::exit(status);
}

void stop_if_signalled() {
    const int sig = pending_signal;
    if (sig == 0) return;
    console_end();
    stop_restore();
    std::fflush(nullptr);  // stdout, and what the target wrote to its open files
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    std::_Exit(128 + sig);  // only if the signal was blocked
}

}  // namespace tolvane
