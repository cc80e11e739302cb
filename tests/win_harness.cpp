#include "tests/win_harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "link/link.h"

namespace win_e2e {

namespace {

using Clock = std::chrono::steady_clock;

const std::string kPrefix = TOLVANE_WINEPREFIX;

using pty_io::ms_left;
using pty_io::read_some;
using pty_io::write_all;

// Runs a command line through the shell; its standard output.
std::string shell(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

std::string sh_quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Collects whatever the pipes have, waiting up to timeout_ms for the first.
bool collect(Program& run, int timeout_ms) {
    pollfd p[2] = {{run.out_fd, POLLIN, 0}, {run.err_fd, POLLIN, 0}};
    if (poll(p, 2, timeout_ms) <= 0) return false;
    bool got = false;
    char buf[4096];
    for (int i = 0; i < 2; ++i) {
        if (!(p[i].revents & (POLLIN | POLLHUP))) continue;
        const ssize_t n = read(p[i].fd, buf, sizeof buf);
        if (n > 0) {
            (i == 0 ? run.output : run.errors).append(buf, static_cast<size_t>(n));
            got = true;
        }
    }
    return got;
}

// The prefix and a wineserver that stays up for the whole run, so each
// start of the program costs half a second, not six.
class WineEnvironment : public testing::Environment {
public:
    void SetUp() override {
        setenv("WINEPREFIX", kPrefix.c_str(), 1);
        setenv("WINEDEBUG", "-all", 1);
        setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
        unsetenv("DISPLAY");
        // Neither may hold our pipe: the server lives on in the background.
        quiet(sh_quote(TOLVANE_WINESERVER) + " -p");
        quiet(sh_quote(TOLVANE_WINE) + " wineboot");
    }
    void TearDown() override { quiet(sh_quote(TOLVANE_WINESERVER) + " -k"); }

private:
    static void quiet(const std::string& command) {
        if (std::system((command + " </dev/null >/dev/null 2>&1").c_str()) != 0) {
            // wineserver -k reports a server that had already gone.
        }
    }
};

const testing::Environment* const wine_environment = testing::AddGlobalTestEnvironment(new WineEnvironment);

std::string port_link(int number) { return kPrefix + "/dosdevices/com" + std::to_string(number); }

}  // namespace

Line line_open(int number) {
    Line line;
    line.number = number;
    char name[256];
    struct termios raw;
    std::memset(&raw, 0, sizeof raw);
    cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    if (openpty(&line.master, &line.slave, name, &raw, nullptr) != 0) {
        ADD_FAILURE() << "openpty: " << std::strerror(errno);
        return line;
    }
    fcntl(line.master, F_SETFD, FD_CLOEXEC);
    fcntl(line.slave, F_SETFD, FD_CLOEXEC);
    line.path = name;
    const std::string link = port_link(number);
    unlink(link.c_str());
    if (symlink(line.path.c_str(), link.c_str()) != 0)
        ADD_FAILURE() << "symlink " << link << ": " << std::strerror(errno);
    return line;
}

void line_close(Line& line) {
    unlink(port_link(line.number).c_str());
    if (line.master >= 0) close(line.master);
    if (line.slave >= 0) close(line.slave);
    line.master = line.slave = -1;
}

Bytes line_read(Line& line, size_t n, int timeout_ms) { return pty_io::read_exactly(line.master, n, timeout_ms); }

Bytes line_drain(Line& line, int quiet_ms) { return pty_io::read_until_quiet(line.master, quiet_ms); }

std::string line_hex(Line& line, const std::string& awaited_hex, int quiet_ms) {
    constexpr int AWAIT_MS = 10000;
    Bytes got = pty_io::read_exactly(line.master, awaited_hex.size() / 3, AWAIT_MS);
    const Bytes more = pty_io::read_until_quiet(line.master, quiet_ms);
    got.insert(got.end(), more.begin(), more.end());
    return hex(got);
}

void line_write(Line& line, const Bytes& b) { write_all(line.master, b); }

Program start(const std::vector<std::string>& args, const std::string& workdir, Keys keys) {
    std::vector<std::string> argv{TOLVANE_WINE, exe_path()};
    argv.insert(argv.end(), args.begin(), args.end());
    return start_program(argv, workdir, keys);
}

Program start_program(const std::vector<std::string>& argv_strings, const std::string& workdir, Keys keys) {
    Program run;
    int out[2], err[2], in[2] = {-1, -1};
    if (pipe(out) != 0 || pipe(err) != 0 || (keys == Keys::piped && pipe(in) != 0)) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return run;
    }
    run.pid = fork();
    if (run.pid == 0) {
        const int keys_in = keys == Keys::piped ? in[0] : open("/dev/null", O_RDONLY);
        dup2(keys_in, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {out[0], out[1], err[0], err[1], keys_in, in[1]})
            if (fd >= 0) close(fd);
        if (!workdir.empty() && chdir(workdir.c_str()) != 0) _exit(121);
        std::vector<char*> argv;
        for (const auto& s : argv_strings) argv.push_back(const_cast<char*>(s.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    if (keys == Keys::piped) {
        close(in[0]);
        run.in_fd = in[1];
        fcntl(run.in_fd, F_SETFD, FD_CLOEXEC);
    }
    run.out_fd = out[0];
    run.err_fd = err[0];
    fcntl(run.out_fd, F_SETFD, FD_CLOEXEC);
    fcntl(run.err_fd, F_SETFD, FD_CLOEXEC);
    return run;
}

int finish(Program& run, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    for (;;) {
        collect(run, 5);
        if (waitpid(run.pid, &status, WNOHANG) == run.pid) break;
        if (ms_left(deadline) == 0) {
            kill_run(run);
            return -1;
        }
    }
    run.pid = -1;
    keys_close(run);
    while (collect(run, 50)) {
    }
    close(run.out_fd);
    close(run.err_fd);
    run.out_fd = run.err_fd = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool output_wait_for(Program& run, const std::string& text, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (run.output.find(text) == std::string::npos) {
        if (ms_left(deadline) == 0) return false;
        collect(run, std::min(ms_left(deadline), 100));
    }
    return true;
}

bool output_wait_size(Program& run, size_t size, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (run.output.size() < size) {
        if (ms_left(deadline) == 0) return false;
        collect(run, std::min(ms_left(deadline), 100));
    }
    return true;
}

void output_collect(Program& run, int quiet_ms) {
    while (collect(run, quiet_ms)) {
    }
}

void kill_run(Program& run) {
    if (run.pid > 0) {
        kill(run.pid, SIGKILL);
        waitpid(run.pid, nullptr, 0);
        run.pid = -1;
    }
    for (int* fd : {&run.in_fd, &run.out_fd, &run.err_fd}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

Pane pane_start(const std::vector<std::string>& args, const std::string& workdir) {
    return pane_start_program(exe_path(), args, workdir);
}

Pane pane_start_program(const std::string& exe, const std::vector<std::string>& args, const std::string& workdir) {
    Pane pane;
    pane.socket = workdir + "/tmux.sock";
    pane.status_file = workdir + "/exit-status";
    unlink(pane.status_file.c_str());
    std::string command = "cd " + sh_quote(workdir) + " && env WINEPREFIX=" + sh_quote(kPrefix) +
                          " WINEDEBUG=-all " + sh_quote(TOLVANE_WINE) + " " + sh_quote(exe);
    for (const auto& a : args) command += " " + sh_quote(a);
    command += "; echo $? > " + sh_quote(pane.status_file) + "; sleep 600";
    shell("tmux -S " + sh_quote(pane.socket) + " kill-server 2>/dev/null");
    shell("tmux -S " + sh_quote(pane.socket) + " new-session -d -x 100 -y 30 " + sh_quote(command) + " 2>&1");
    return pane;
}

std::string pane_text(const Pane& pane) {
    return shell("tmux -S " + sh_quote(pane.socket) + " capture-pane -p 2>&1");
}

std::string pane_styled_text(const Pane& pane) {
    return shell("tmux -S " + sh_quote(pane.socket) + " capture-pane -p -e 2>&1");
}

bool pane_wait_for(const Pane& pane, const std::string& text, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (pane_text(pane).find(text) == std::string::npos) {
        if (ms_left(deadline) == 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

bool pane_started(const Pane& pane) { return pane_wait_for(pane, "Exit with Ctrl-Q", 30000); }

void pane_keys(const Pane& pane, const std::vector<std::string>& keys) {
    for (const auto& k : keys) shell("tmux -S " + sh_quote(pane.socket) + " send-keys " + sh_quote(k));
}

int pane_exit_status(const Pane& pane, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        std::ifstream in(pane.status_file);
        int status;
        if (in >> status) return status;
        if (ms_left(deadline) == 0) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void keys_write(Program& run, const std::string& keys) {
    write_all(run.in_fd, Bytes(keys.begin(), keys.end()));
}

void keys_close(Program& run) {
    if (run.in_fd >= 0) close(run.in_fd);
    run.in_fd = -1;
}

void pane_paste(const Pane& pane, const std::string& text) {
    const std::string file = pane.socket + ".paste";
    std::ofstream(file, std::ios::binary) << text;
    shell("tmux -S " + sh_quote(pane.socket) + " load-buffer " + sh_quote(file) + " \\; paste-buffer -d");
}

namespace {

double process_cpu_seconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t after_name = stat.rfind(')');
    if (after_name == std::string::npos) return 0;
    std::istringstream fields(stat.substr(after_name + 2));
    std::string field;
    double ticks = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i)
        if (i >= 12) ticks += std::stod(field);  // utime and stime
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Whether a process is the Wine server of this run's prefix: it works in
// its directory server-DEV-INODE, the prefix's device and inode in hex.
bool serves_our_prefix(pid_t pid) {
    struct stat st;
    if (stat(kPrefix.c_str(), &st) != 0) return false;
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, "/server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    char cwd[4096];
    const ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/cwd").c_str(), cwd, sizeof cwd - 1);
    if (n <= 0) return false;
    const std::string where(cwd, static_cast<size_t>(n));
    const std::string end(suffix);
    return where.size() >= end.size() && where.compare(where.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

double cpu_seconds(const Program& run) {
    double total = run.pid > 0 ? process_cpu_seconds(run.pid) : 0;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return total;
    while (dirent* entry = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0) continue;
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::string name;
        if (std::getline(comm, name) && name.rfind("wineserver", 0) == 0 && serves_our_prefix(pid))
            total += process_cpu_seconds(pid);
    }
    closedir(proc);
    return total;
}

void pane_close(Pane& pane) {
    if (!pane.socket.empty()) shell("tmux -S " + sh_quote(pane.socket) + " kill-server 2>/dev/null");
    pane.socket.clear();
}

std::string dos_newlines_to_unix(std::string s) {
    for (size_t at; (at = s.find("\r\n")) != std::string::npos;) s.erase(at, 1);
    return s;
}

std::string exe_path() { return TOLVANE_WIN_EXE; }

std::string build_path(const std::string& name) {
    const std::string exe = exe_path();
    return exe.substr(0, exe.rfind('/') + 1) + name;
}

std::string windows_path(const std::string& path) {
    std::string w = "Z:" + path;
    for (char& c : w) {
        if (c == '/') c = '\\';
    }
    return w;
}

std::string scratch_dir(const std::string& name) { return pty_io::scratch_dir(TOLVANE_SCRATCH_DIR, name); }

void target_attach(Line& line) { pty_io::target_attach(line.master, 5000); }

}  // namespace win_e2e
