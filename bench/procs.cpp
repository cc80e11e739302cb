#include "bench/procs.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace bench {

namespace {

void set_flag(int fd, int get, int set, int flag) { fcntl(fd, set, fcntl(fd, get) | flag); }

[[noreturn]] void exec_in(const std::vector<std::string>& argv, const std::string& dir) {
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

using Clock = std::chrono::steady_clock;

int ms_left(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

long long task_ns(const std::string& stat_path) {
    std::ifstream in(stat_path);
    long long ns = -1;
    in >> ns;
    return in ? ns : -1;
}

}  // namespace

PtyPair open_raw_pty() {
    PtyPair p;
    struct termios raw;
    std::memset(&raw, 0, sizeof raw);
    cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&raw, B115200);
    cfsetospeed(&raw, B115200);
    char name[256];
    if (openpty(&p.master, &p.slave, name, &raw, nullptr) != 0) {
        std::perror("openpty");
        std::exit(2);
    }
    p.path = name;
    set_flag(p.master, F_GETFD, F_SETFD, FD_CLOEXEC);
    set_flag(p.slave, F_GETFD, F_SETFD, FD_CLOEXEC);
    set_flag(p.master, F_GETFL, F_SETFL, O_NONBLOCK);
    return p;
}

void make_cooked(const PtyPair& pty) {
    struct termios t;
    tcgetattr(pty.slave, &t);
    t.c_iflag |= ICRNL | IXON;
    t.c_oflag |= OPOST | ONLCR;
    t.c_lflag |= ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    t.c_cc[VINTR] = 3;
    t.c_cc[VEOF] = 4;
    tcsetattr(pty.slave, TCSANOW, &t);
}

void make_raw(const PtyPair& pty) {
    struct termios t;
    tcgetattr(pty.slave, &t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    tcsetattr(pty.slave, TCSANOW, &t);
}

void close_pty(PtyPair& pty) {
    if (pty.master >= 0) close(pty.master);
    if (pty.slave >= 0) close(pty.slave);
    pty.master = pty.slave = -1;
}

pid_t spawn_on_console(const std::vector<std::string>& argv, const PtyPair& console, const std::string& dir) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    setsid();
    const int fd = open(console.path.c_str(), O_RDWR);
    if (fd < 0) _exit(125);
    ioctl(fd, TIOCSCTTY, 0);
    dup2(fd, 0);
    dup2(fd, 1);
    dup2(fd, 2);
    exec_in(argv, dir);
}

pid_t spawn_on_fd(const std::vector<std::string>& argv, int fd, const std::string& dir) {
    return spawn_on_fds(argv, fd, fd, dir);
}

pid_t spawn_on_fds(const std::vector<std::string>& argv, int in, int out, const std::string& dir) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    setsid();  // no controlling terminal, so no signals from the pair
    const int null = open("/dev/null", O_WRONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(null, 2);
    exec_in(argv, dir);
}

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

void write_text(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, 1000) <= 0 || (p.revents & (POLLHUP | POLLERR))) return;
        }
    }
}

long long cpu_ns(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir) return -1;
    long long total = 0;
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        const long long ns = task_ns(tasks + "/" + e->d_name + "/schedstat");
        if (ns > 0) total += ns;
    }
    closedir(dir);
    return total;
}

int reap(pid_t pid, int timeout_ms, long long* cpu) {
    // A pidfd turns "the child has ended" into a poll with a time-out.
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        poll(&p, 1, timeout_ms);
        close(pidfd);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(pid, &status, WNOHANG, &usage) != pid) {
        kill(pid, SIGKILL);
        wait4(pid, &status, 0, &usage);
        status = -1;
    }
    if (cpu) *cpu = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000000LL +
                    (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1000LL;
    return status;
}

void set_blocking(int fd, bool blocking) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
}

std::string find_program(const std::string& name) {
    if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : "";
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return "";
}

std::string fresh_dir(const std::string& path) {
    const std::string wipe = "rm -rf '" + path + "'";
    if (std::system(wipe.c_str()) != 0) std::exit(2);
    const std::string make = "mkdir -p '" + path + "'";
    if (std::system(make.c_str()) != 0) std::exit(2);
    return path;
}

}  // namespace bench
