#include "bench/terminals.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int START_MS = 5000;
constexpr int STALL_MS = 10000;  // no byte moved this long: the run failed
constexpr size_t WRITE_CHUNK = 4096;
constexpr char SYNC_MARK[] = "#sync#";

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int ms_left(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Reads fd until text has arrived (true) or timeout_ms have passed.
bool wait_for_text(int fd, const std::string& text, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::string seen;
    while (seen.find(text) == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, ms_left(deadline)) <= 0) return false;
        char buf[4096];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) return false;
        seen.append(buf, static_cast<size_t>(n));
    }
    return true;
}

bool wait_raw(const PtyPair& console, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    struct termios t;
    while (tcgetattr(console.slave, &t) == 0 && (t.c_lflag & ICANON)) {
        if (ms_left(deadline) == 0) return false;
        usleep(2000);
    }
    return true;
}

void write_text(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, 1000) <= 0) return;
        }
    }
}

// The program has opened its line once a mark written there reaches the
// console. It may flush what came before it opened, so the mark repeats.
bool sync_console(const Terminal& t) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        write_text(t.line.master, std::string("\n") + SYNC_MARK + "\n");
        if (wait_for_text(t.console.master, SYNC_MARK, 100)) {
            drain(t, 50);
            return true;
        }
    }
    return false;
}

Terminal failed(Terminal& t, const std::string& why) {
    if (t.pid > 0) {
        kill(t.pid, SIGKILL);
        waitpid(t.pid, nullptr, 0);
    }
    close_pty(t.line);
    close_pty(t.console);
    t.pid = -1;
    t.why_not = why;
    return t;
}

Terminal with_ptys() {
    Terminal t;
    t.line = open_raw_pty();
    t.console = open_raw_pty();
    return t;
}

bool reaped_cleanly(Terminal& t, int timeout_ms) {
    const int status = reap(t.pid, timeout_ms);
    t.pid = -1;
    close_pty(t.line);
    close_pty(t.console);
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

Terminal start_tolvane(const std::string& path, const std::string& dir) { return start_tolvane_with(path, dir, {}); }

Terminal start_tolvane_with(const std::string& path, const std::string& dir, const std::vector<std::string>& options) {
    Terminal t = with_ptys();
    make_cooked(t.console);
    std::vector<std::string> argv{path};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {"-c", t.line.path});
    t.pid = spawn_on_console(argv, t.console, dir);
    if (!wait_for_text(t.line.master, std::string(50, '\b'), START_MS)) return failed(t, "no reset on the line");
    if (!wait_for_text(t.console.master, "Exit with Ctrl-Q", START_MS)) return failed(t, "no banner");
    if (!wait_raw(t.console, START_MS)) return failed(t, "console not raw");
    if (!sync_console(t)) return failed(t, "line bytes do not reach the console");
    return t;
}

Terminal start_picocom(const std::string& path, const std::string& dir) {
    Terminal t = with_ptys();
    make_cooked(t.console);
    t.pid = spawn_on_console({path, "-q", "--nolock", "-b", "115200", t.line.path}, t.console, dir);
    if (!wait_raw(t.console, START_MS)) return failed(t, "console not raw");
    if (!sync_console(t)) return failed(t, "line bytes do not reach the console");
    return t;
}

Terminal start_cat(const std::string& path, const std::string& dir) {
    Terminal t = with_ptys();  // both raw: cat sets no modes of its own
    t.pid = spawn_on_console({path, t.line.path}, t.console, dir);
    if (!sync_console(t)) return failed(t, "line bytes do not reach the console");
    return t;
}

bool stop_tolvane(Terminal& t) {
    write_text(t.console.master, "\x11");  // Ctrl-Q
    return reaped_cleanly(t, START_MS);
}

bool stop_picocom(Terminal& t) {
    write_text(t.console.master, "\x01\x18");  // Ctrl-A Ctrl-X
    return reaped_cleanly(t, START_MS);
}

bool stop_cat(Terminal& t) {
    kill(t.pid, SIGTERM);
    reaped_cleanly(t, START_MS);
    return true;
}

void drain(const Terminal& t, int quiet_ms) {
    for (;;) {
        pollfd p[2] = {{t.console.master, POLLIN, 0}, {t.line.master, POLLIN, 0}};
        if (poll(p, 2, quiet_ms) <= 0) return;
        char buf[4096];
        for (const auto& one : p) {
            if ((one.revents & POLLIN) && read(one.fd, buf, sizeof buf) <= 0) return;
            if (one.revents & (POLLHUP | POLLERR)) return;
        }
    }
}

Flow pump(Terminal& t, const std::string& data) {
    Flow f;
    size_t sent = 0;
    size_t got = 0;
    bool same = true;
    const long long cpu_before = cpu_ns(t.pid);
    const auto start = Clock::now();
    while (got < data.size()) {
        const short line_events = sent < data.size() ? POLLOUT : 0;
        pollfd p[2] = {{t.console.master, POLLIN, 0}, {t.line.master, line_events, 0}};
        if (poll(p, 2, STALL_MS) <= 0) break;
        if (p[1].revents & POLLOUT) {
            const ssize_t n = write(t.line.master, data.data() + sent, std::min(WRITE_CHUNK, data.size() - sent));
            if (n > 0) sent += static_cast<size_t>(n);
        }
        if (p[0].revents & POLLIN) {
            char buf[65536];
            const ssize_t n = read(t.console.master, buf, sizeof buf);
            if (n <= 0) break;
            const size_t count = static_cast<size_t>(n);
            same = same && got + count <= data.size() && std::memcmp(buf, data.data() + got, count) == 0;
            got += count;
        } else if (p[0].revents & (POLLHUP | POLLERR)) {
            break;
        }
    }
    f.seconds = seconds_since(start);
    f.cpu_seconds = static_cast<double>(cpu_ns(t.pid) - cpu_before) / 1e9;
    f.ok = same && got == data.size();
    return f;
}

}  // namespace bench
