#include "posix/signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "base/console.h"
#include "base/stop.h"

namespace tolvane {

namespace {

int signal_pipe[2] = {-1, -1};
volatile std::sig_atomic_t pending_signal = 0;

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
