#include "bench/terminals.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>

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

bool wait_raw(const PtyPair& console, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    struct termios t;
    while (tcgetattr(console.slave, &t) == 0 && (t.c_lflag & ICANON)) {
        if (ms_left(deadline) == 0) return false;
        usleep(2000);
    }
    return true;
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

Terminal start_tolvane(const std::string& path, const std::string& dir, const std::vector<std::string>& options) {
    Terminal t = with_ptys();
    return start_tolvane_via(path, dir, t.line.path, t.line, options);
}

Terminal start_tolvane_via(const std::string& path, const std::string& dir, const std::string& line_name,
                           const PtyPair& line, const std::vector<std::string>& options) {
    Terminal t;
    t.line = line;
    t.console = open_raw_pty();
    make_cooked(t.console);
    std::vector<std::string> argv{path};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {"-c", line_name});
    t.pid = spawn_on_console(argv, t.console, dir);
    if (!wait_for_text(t.line.master, std::string(50, '\b'), START_MS)) return failed(t, "no reset on the line");
    if (!wait_for_text(t.console.master, "Exit with Ctrl-Q", START_MS)) return failed(t, "no banner");
    if (!wait_raw(t.console, START_MS)) return failed(t, "console not raw");
    if (!sync_console(t)) return failed(t, "line bytes do not reach the console");
    return t;
}

Terminal start_tolvane(const std::string& path, const std::string& dir) { return start_tolvane(path, dir, {}); }

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

namespace {

// Writes data into one end and reads the other until expected bytes have
// come, handing each read to take; false from take ends the run. The CPU
// is pid's.
Flow pump_until(pid_t pid, int into, int out_of, const std::string& data, size_t expected,
                const std::function<bool(const char*, size_t)>& take) {
    Flow f;
    size_t sent = 0;
    size_t got = 0;
    bool same = true;
    const long long cpu_before = cpu_ns(pid);
    const auto start = Clock::now();
    while (got < expected) {
        const short into_events = sent < data.size() ? POLLOUT : 0;
        pollfd p[2] = {{out_of, POLLIN, 0}, {into, into_events, 0}};
        if (poll(p, 2, STALL_MS) <= 0) break;
        if (p[1].revents & POLLOUT) {
            const ssize_t n = write(into, data.data() + sent, std::min(WRITE_CHUNK, data.size() - sent));
            if (n > 0) sent += static_cast<size_t>(n);
        } else if (p[1].revents & (POLLHUP | POLLERR)) {
            break;  // no one reads what is left to send
        }
        if (p[0].revents & POLLIN) {
            char buf[65536];
            const ssize_t n = read(out_of, buf, sizeof buf);
            if (n <= 0) break;
            const size_t count = static_cast<size_t>(n);
            same = same && got + count <= expected && take(buf, count);
            got += count;
        } else if (p[0].revents & (POLLHUP | POLLERR)) {
            break;
        }
    }
    f.seconds = seconds_since(start);
    f.cpu_seconds = static_cast<double>(cpu_ns(pid) - cpu_before) / 1e9;
    f.ok = same && got == expected;
    return f;
}

constexpr size_t STAMP_SIZE = sizeof "[HH:MM:SS.mmm] " - 1;

bool is_stamp(const char* p) {
    for (size_t i = 0; i < STAMP_SIZE; ++i) {
        const char want = "[00:00:00.000] "[i];
        if (want == '0' ? (p[i] < '0' || p[i] > '9') : p[i] != want) return false;
    }
    return true;
}

}  // namespace

Flow pump(Terminal& t, const std::string& data) { return pump_between(t.pid, t.line.master, t.console.master, data); }

Flow pump_between(pid_t pid, int into, int out_of, const std::string& data) {
    size_t checked = 0;
    return pump_until(pid, into, out_of, data, data.size(), [&](const char* bytes, size_t n) {
        const bool same = std::memcmp(bytes, data.data() + checked, n) == 0;
        checked += n;
        return same;
    });
}

Flow pump_stamped(Terminal& t, const std::string& data) {
    const size_t lines = static_cast<size_t>(std::count(data.begin(), data.end(), '\n'));
    const size_t expected = data.size() + lines * (STAMP_SIZE + 1);
    std::string shown;
    shown.reserve(expected);
    Flow f = pump_until(t.pid, t.line.master, t.console.master, data, expected, [&](const char* bytes, size_t n) {
        shown.append(bytes, n);
        return true;
    });
    // Every line: a stamp, its text, CR LF.
    size_t at = 0;
    for (size_t from = 0; f.ok && from < data.size();) {
        const size_t end = data.find('\n', from);
        const size_t length = end - from;
        f.ok = end != std::string::npos && at + STAMP_SIZE + length + 2 <= shown.size() && is_stamp(&shown[at]) &&
               shown.compare(at + STAMP_SIZE, length, data, from, length) == 0 &&
               shown.compare(at + STAMP_SIZE + length, 2, "\r\n") == 0;
        at += STAMP_SIZE + length + 2;
        from = end + 1;
    }
    return f;
}

}  // namespace bench
