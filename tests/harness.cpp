#include "tests/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "link/link.h"

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

int ms_left(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// One read with a time-out; 0 bytes on time-out or end.
ssize_t read_some(int fd, uint8_t* buf, size_t n, int timeout_ms) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return 0;
    const ssize_t got = read(fd, buf, n);
    return got > 0 ? got : 0;
}

void write_all(int fd, const Bytes& b) {
    size_t done = 0;
    while (done < b.size()) {
        const ssize_t n = write(fd, b.data() + done, b.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return;
        } else {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
}

void cloexec(int fd) { fcntl(fd, F_SETFD, FD_CLOEXEC); }

}  // namespace

Pty open_pty() {
    Pty p;
    char name[256];
    struct termios raw;
    std::memset(&raw, 0, sizeof raw);
    cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&raw, B38400);
    cfsetospeed(&raw, B38400);
    if (openpty(&p.master, &p.slave, name, &raw, nullptr) != 0) {
        std::perror("openpty");
        std::abort();
    }
    p.path = name;
    cloexec(p.master);
    cloexec(p.slave);
    return p;
}

void close_pty(Pty& pty) {
    if (pty.master >= 0) close(pty.master);
    if (pty.slave >= 0) close(pty.slave);
    pty.master = pty.slave = -1;
}

Session start(const std::vector<std::string>& args, const Options& options) {
    Session run;
    if (options.line_pty) run.line = open_pty();
    run.console = open_pty();
    // The console starts as a user's terminal does: cooked, echoing.
    struct termios cooked = settings(run.console.slave);
    cooked.c_iflag |= ICRNL | IXON;
    cooked.c_oflag |= OPOST | ONLCR;
    cooked.c_lflag |= ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    cooked.c_cc[VMIN] = 1;
    cooked.c_cc[VINTR] = 3;
    cooked.c_cc[VEOF] = 4;
    tcsetattr(run.console.slave, TCSANOW, &cooked);
    if (options.prepare_line) options.prepare_line(run.line.slave);
    run.line_at_start = settings(run.line.slave);
    run.console_at_start = settings(run.console.slave);

    std::vector<std::string> argv_strings{tolvane_path()};
    for (const auto& a : args) {
        std::string s = a;
        const auto at = s.find("{line}");
        if (at != std::string::npos) s.replace(at, 6, run.line.path);
        argv_strings.push_back(s);
    }

    run.pid = fork();
    if (run.pid == 0) {
        setsid();
        const int console = open(run.console.path.c_str(), O_RDWR);  // our controlling tty
        if (console < 0) _exit(120);
        ioctl(console, TIOCSCTTY, 0);
        const int in = options.stdin_null ? open("/dev/null", O_RDONLY) : console;
        dup2(in, 0);
        dup2(console, 1);
        dup2(console, 2);
        if (!options.workdir.empty() && chdir(options.workdir.c_str()) != 0) _exit(121);
        std::vector<char*> argv;
        for (auto& s : argv_strings) argv.push_back(s.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return run;
}

int wait_exit(Session& run, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    for (;;) {
        // Keep reading the console so the program never blocks on output.
        uint8_t buf[512];
        const ssize_t n = read_some(run.console.master, buf, sizeof buf, 0);
        run.console_output.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
        if (waitpid(run.pid, &status, WNOHANG) == run.pid) break;
        if (ms_left(deadline) == 0) {
            kill(run.pid, SIGKILL);
            waitpid(run.pid, &status, 0);
            run.pid = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.pid = -1;
    console_drain(run, 50);
    return status;
}

int exit_code(int wait_status) {
    if (wait_status == -1 || !WIFEXITED(wait_status)) return -1;
    return WEXITSTATUS(wait_status);
}

Bytes line_read(Session& run, size_t n, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    Bytes got;
    while (got.size() < n) {
        uint8_t buf[4096];
        const size_t want = std::min(n - got.size(), sizeof buf);
        const ssize_t r = read_some(run.line.master, buf, want, ms_left(deadline));
        if (r <= 0) break;
        got.insert(got.end(), buf, buf + r);
    }
    return got;
}

Bytes line_drain(Session& run, int quiet_ms) {
    Bytes got;
    for (;;) {
        uint8_t buf[4096];
        const ssize_t r = read_some(run.line.master, buf, sizeof buf, quiet_ms);
        if (r <= 0) return got;
        got.insert(got.end(), buf, buf + r);
    }
}

void line_write(Session& run, const Bytes& b) { write_all(run.line.master, b); }

bool console_wait_for(Session& run, const std::string& text, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (run.console_output.find(text) == std::string::npos) {
        uint8_t buf[512];
        const ssize_t n = read_some(run.console.master, buf, sizeof buf, ms_left(deadline));
        if (n <= 0) return false;
        run.console_output.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
    }
    return true;
}

std::string console_drain(Session& run, int quiet_ms) {
    std::string got;
    for (;;) {
        uint8_t buf[512];
        const ssize_t n = read_some(run.console.master, buf, sizeof buf, quiet_ms);
        if (n <= 0) break;
        got.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
    }
    run.console_output += got;
    return got;
}

void console_type(Session& run, const Bytes& keys) { write_all(run.console.master, keys); }

bool console_wait_raw(Session& run, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (settings(run.console.slave).c_lflag & ICANON) {
        if (ms_left(deadline) == 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

struct termios settings(int fd) {
    struct termios t;
    std::memset(&t, 0, sizeof t);
    tcgetattr(fd, &t);
    return t;
}

bool same_settings(const struct termios& a, const struct termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string hex(const Bytes& b) {
    std::string out;
    char part[4];
    for (uint8_t x : b) {
        std::snprintf(part, sizeof part, "%02X ", x);
        out += part;
    }
    return out;
}

Bytes reset_sequence() { return Bytes(50, 0x08); }

std::string scratch_dir(const std::string& name) {
    const std::string root = std::string(TOLVANE_SCRATCH_DIR);
    mkdir(root.c_str(), 0755);
    const std::string dir = root + "/" + name;
    const std::string wipe = "rm -rf '" + dir + "'";
    if (std::system(wipe.c_str()) != 0) std::abort();
    mkdir(dir.c_str(), 0755);
    return dir;
}

std::string tolvane_path() { return TOLVANE_BINARY; }

namespace {
int target_fd = -1;
bool timed_out = false;
}  // namespace

void target_attach(Session& run) {
    target_fd = run.line.master;
    timed_out = false;
}

bool target_timed_out() { return timed_out; }

}  // namespace e2e

namespace tolvane {

int link_get_raw() {
    uint8_t b;
    if (e2e::read_some(e2e::target_fd, &b, 1, 3000) == 1) return b;
    e2e::timed_out = true;
    return BYTE_ETX;
}

void link_put_raw(int byte) { e2e::write_all(e2e::target_fd, {static_cast<uint8_t>(byte)}); }

}  // namespace tolvane
