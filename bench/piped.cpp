#include "bench/piped.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

namespace {

// Wine's first start in a prefix sets up its services: seconds, not ms.
constexpr int START_MS = 30000;
constexpr int STOP_MS = 5000;
constexpr char SYNC_MARK[] = "#sync#";

void close_fd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

Piped failed(Piped& p, const std::string& why) {
    if (p.pid > 0) {
        kill(p.pid, SIGKILL);
        waitpid(p.pid, nullptr, 0);
    }
    close_fd(p.keys);
    close_fd(p.output);
    p.pid = -1;
    p.why_not = why;
    return p;
}

// The program reads its line once a mark written there comes out; what
// came before it opened may be flushed, so the mark repeats.
bool sync_output(const Piped& p) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        write_text(p.line.master, std::string("\n") + SYNC_MARK + "\n");
        if (wait_for_text(p.output, SYNC_MARK, 100)) {
            drain_piped(p, 50);
            return true;
        }
    }
    return false;
}

// Our ends are non-blocking and not inherited by later children.
void keep_own(int fd) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

Piped start_piped(const std::vector<std::string>& argv, const PtyPair& line, const std::string& dir) {
    Piped p;
    p.line = line;
    int in[2], out[2];
    if (pipe(in) != 0) return failed(p, "no pipe");
    if (pipe(out) != 0) {
        close(in[0]);
        close(in[1]);
        return failed(p, "no pipe");
    }
    p.pid = spawn_on_fds(argv, in[0], out[1], dir);
    close(in[0]);
    close(out[1]);
    p.keys = in[1];
    p.output = out[0];
    keep_own(p.keys);
    keep_own(p.output);
    if (!wait_for_text(p.line.master, std::string(50, '\b'), START_MS)) return failed(p, "no reset on the line");
    if (!wait_for_text(p.output, "Exit with Ctrl-Q", START_MS)) return failed(p, "no banner");
    if (!sync_output(p)) return failed(p, "line bytes do not reach the output");
    return p;
}

bool stop_piped(Piped& p) {
    write_text(p.keys, "\x11");  // Ctrl-Q
    const int status = reap(p.pid, STOP_MS);
    p.pid = -1;
    close_fd(p.keys);
    close_fd(p.output);
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

Flow pump_out(Piped& p, const std::string& text) { return pump_between(p.pid, p.line.master, p.output, text); }

Flow type_in(Piped& p, const std::string& keys) { return pump_between(p.pid, p.keys, p.line.master, keys); }

void drain_piped(const Piped& p, int quiet_ms) {
    for (;;) {
        pollfd fds[2] = {{p.output, POLLIN, 0}, {p.line.master, POLLIN, 0}};
        if (poll(fds, 2, quiet_ms) <= 0) return;
        char buf[4096];
        for (const auto& one : fds) {
            if ((one.revents & POLLIN) && read(one.fd, buf, sizeof buf) <= 0) return;
            if (one.revents & (POLLHUP | POLLERR)) return;
        }
    }
}

}  // namespace bench
