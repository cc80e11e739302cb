#include "tests/harness.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "link/link.h"

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;
using pty_io::ms_left;
using pty_io::read_some;

void cloexec(int fd) { fcntl(fd, F_SETFD, FD_CLOEXEC); }

}  // namespace

bool pty_holds_frame(tcflag_t cflags) {
    constexpr tcflag_t FRAME_CFLAGS = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    Pty pty = open_pty();
    struct termios t = settings(pty.slave);
    t.c_cflag = (t.c_cflag & ~FRAME_CFLAGS) | cflags;
    tcsetattr(pty.slave, TCSANOW, &t);
    const bool held = (settings(pty.slave).c_cflag & FRAME_CFLAGS) == cflags;
    close_pty(pty);
    return held;
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

    std::vector<std::string> argv_strings{options.program.empty() ? tolvane_path() : options.program};
    for (const auto& a : args) {
        std::string s = a;
        const auto at = s.find("{line}");
        if (at != std::string::npos) s.replace(at, 6, run.line.path);
        argv_strings.push_back(s);
    }

    int out_pipe[2] = {-1, -1};
    if (options.stdout_pipe && pipe(out_pipe) != 0) std::abort();
    int in_pipe[2] = {-1, -1};
    if (options.stdin_pipe && pipe(in_pipe) != 0) std::abort();
    run.pid = fork();
    if (run.pid == 0) {
        setsid();
        const int console = open(run.console.path.c_str(), O_RDWR);  // our controlling tty
        if (console < 0) _exit(120);
        ioctl(console, TIOCSCTTY, 0);
        const int in = options.stdin_null ? open("/dev/null", O_RDONLY) : options.stdin_pipe ? in_pipe[0] : console;
        dup2(in, 0);
        if (options.stdin_pipe) close(in_pipe[1]);  // or its end of file never comes
        dup2(options.stdout_pipe ? out_pipe[1] : console, 1);
        if (options.stdout_pipe) close(out_pipe[0]);  // or a reader that went away never shows
        dup2(console, 2);
        if (!options.workdir.empty() && chdir(options.workdir.c_str()) != 0) _exit(121);
        if (!options.own_config) setenv("XDG_CONFIG_HOME", "/nonexistent/tolvane-tests", 1);
        std::vector<char*> argv;
        for (auto& s : argv_strings) argv.push_back(s.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (options.stdout_pipe) {
        close(out_pipe[1]);
        cloexec(out_pipe[0]);
        run.stdout_pipe = out_pipe[0];
    }
    if (options.stdin_pipe) {
        close(in_pipe[0]);
        cloexec(in_pipe[1]);
        run.stdin_pipe = in_pipe[1];
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

Bytes line_read(Session& run, size_t n, int timeout_ms) { return pty_io::read_exactly(run.line.master, n, timeout_ms); }

Bytes line_drain(Session& run, int quiet_ms) { return pty_io::read_until_quiet(run.line.master, quiet_ms); }

void line_write(Session& run, const Bytes& b) { pty_io::write_all(run.line.master, b); }

LineFlood::LineFlood(int line_master) {
    fcntl(line_master, F_SETFL, fcntl(line_master, F_GETFL) | O_NONBLOCK);
    thread_ = std::thread([this, line_master] {
        const std::string text(4096, 'x');
        while (!stop_) {
            pollfd p{line_master, POLLOUT, 0};
            if (poll(&p, 1, 50) > 0 && (p.revents & POLLOUT)) {
                if (write(line_master, text.data(), text.size()) < 0 && errno != EAGAIN) return;
            }
        }
    });
}

LineFlood::~LineFlood() {
    stop_ = true;
    thread_.join();
}

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

void console_type(Session& run, const Bytes& keys) { pty_io::write_all(run.console.master, keys); }

bool console_wait_raw(Session& run, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (settings(run.console.slave).c_lflag & ICANON) {
        if (ms_left(deadline) == 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string scratch_dir(const std::string& name) { return pty_io::scratch_dir(TOLVANE_SCRATCH_DIR, name); }

std::string tolvane_path() { return TOLVANE_BINARY; }

std::string tolvane_walk_path() { return TOLVANE_WALK_BINARY; }

void target_attach(Session& run) { pty_io::target_attach(run.line.master, 3000); }

void end_with_ctrl_q(Session& run) {
    EXPECT_TRUE(console_wait_raw(run));
    console_type(run, {0x11});
    EXPECT_EQ(exit_code(wait_exit(run)), 0);
}

void close_all(Session& run) {
    // A run still going (a test that failed half-way) ends here with all
    // it started: left alone it would go on using a pty whose number the
    // next test may be given.
    if (run.pid > 0) {
        kill(-run.pid, SIGKILL);
        waitpid(run.pid, nullptr, 0);
        run.pid = -1;
    }
    close_pty(run.line);
    close_pty(run.console);
}

}  // namespace e2e
