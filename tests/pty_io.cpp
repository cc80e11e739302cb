#include "tests/pty_io.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "link/link.h"

namespace pty_io {

namespace {

using Clock = std::chrono::steady_clock;

int target_fd = -1;
int target_timeout_ms = 3000;
bool timed_out = false;

}  // namespace

int ms_left(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

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

Bytes read_exactly(int fd, size_t n, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    Bytes got;
    while (got.size() < n) {
        uint8_t buf[4096];
        const size_t want = std::min(n - got.size(), sizeof buf);
        const ssize_t r = read_some(fd, buf, want, ms_left(deadline));
        if (r <= 0) break;
        got.insert(got.end(), buf, buf + r);
    }
    return got;
}

Bytes read_until_quiet(int fd, int quiet_ms) {
    Bytes got;
    for (;;) {
        uint8_t buf[4096];
        const ssize_t r = read_some(fd, buf, sizeof buf, quiet_ms);
        if (r <= 0) return got;
        got.insert(got.end(), buf, buf + r);
    }
}

std::string read_all(int fd, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::string got;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, ms_left(deadline)) <= 0) return got;
        char buf[4096];
        const ssize_t r = read(fd, buf, sizeof buf);
        if (r <= 0) return got;
        got.append(buf, static_cast<size_t>(r));
    }
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

std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes with_reset(const std::string& words) {
    Bytes b = reset_sequence();
    for (char c : words) b.push_back(static_cast<uint8_t>(c));
    return b;
}

long cpu_ticks(pid_t pid) {
    // Fields 14 and 15 of /proc/PID/stat, counted after the command's ')'.
    std::istringstream fields(file_text("/proc/" + std::to_string(pid) + "/stat"));
    std::string field;
    std::getline(fields, field, ')');
    long ticks = 0;
    for (int i = 3; fields >> field && i <= 15; ++i) {
        if (i >= 14) ticks += std::stol(field);
    }
    return ticks;
}

std::string scratch_dir(const std::string& root, const std::string& name) {
    mkdir(root.c_str(), 0755);
    const std::string dir = root + "/" + name;
    const std::string wipe = "rm -rf '" + dir + "'";
    if (std::system(wipe.c_str()) != 0) std::abort();
    mkdir(dir.c_str(), 0755);
    return dir;
}

void target_attach(int fd, int timeout_ms) {
    target_fd = fd;
    target_timeout_ms = timeout_ms;
    timed_out = false;
}

bool target_timed_out() { return timed_out; }

}  // namespace pty_io

namespace tolvane {

int link_get_raw() {
    uint8_t b;
    if (pty_io::read_some(pty_io::target_fd, &b, 1, pty_io::target_timeout_ms) == 1) return b;
    pty_io::timed_out = true;
    return BYTE_ETX;
}

void link_put_raw(int byte) { pty_io::write_all(pty_io::target_fd, {static_cast<uint8_t>(byte)}); }

}  // namespace tolvane

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>

#include <cstring>
#include <random>

namespace pty_io {

namespace {

// Copies what either side has to the other until told to stop. The
// host's bytes reach the board 2 ms late, as over a real line: lrzsz
// throws away what comes in just after it answers, and on a pty an
// answer to that answer can come within 50 us (it is then asked for
// again after 5 to 13 s, which only slows a test down).
void relay_bytes(Peer* peer) {
    uint8_t buffer[65536];
    while (!peer->stop) {
        pollfd fds[2] = {{peer->line_master, POLLIN, 0}, {peer->master, POLLIN, 0}};
        if (poll(fds, 2, 20) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & POLLIN)) continue;
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) continue;
            if (i == 0) usleep(2000);
            write_all(i == 0 ? peer->master : peer->line_master, Bytes(buffer, buffer + n));
        }
    }
}

}  // namespace

Pty open_pty(speed_t speed) {
    Pty p;
    char name[256];
    struct termios raw;
    std::memset(&raw, 0, sizeof raw);
    cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&raw, speed);
    cfsetospeed(&raw, speed);
    if (openpty(&p.master, &p.slave, name, &raw, nullptr) != 0) {
        std::perror("openpty");
        std::abort();
    }
    p.path = name;
    fcntl(p.master, F_SETFD, FD_CLOEXEC);
    fcntl(p.slave, F_SETFD, FD_CLOEXEC);
    return p;
}

void close_pty(Pty& pty) {
    if (pty.master >= 0) close(pty.master);
    if (pty.slave >= 0) close(pty.slave);
    pty.master = pty.slave = -1;
}

void peer_start(Peer& peer, int line_master, const std::vector<std::string>& argv, const std::string& dir) {
    const Pty pty = open_pty(B115200);
    peer.master = pty.master;
    peer.line_master = line_master;
    peer.pid = fork();
    if (peer.pid == 0) {
        setsid();
        dup2(pty.slave, 0);
        dup2(pty.slave, 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        if (chdir(dir.c_str()) != 0) _exit(126);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    peer.slave = pty.slave;  // held, so that the peer's last bytes outlive it
    peer.relay = std::thread(relay_bytes, &peer);
}

int peer_finish(Peer& peer, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = -1;
    while (waitpid(peer.pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            kill(peer.pid, SIGKILL);
            waitpid(peer.pid, &status, 0);
            status = -1;
            break;
        }
        usleep(10000);
    }
    usleep(100000);  // its last bytes through the relay
    peer.stop = true;
    peer.relay.join();
    close(peer.master);
    close(peer.slave);
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string random_file(const std::string& path, size_t count) {
    std::mt19937 generator(42);
    std::string bytes(count, '\0');
    for (char& c : bytes) c = static_cast<char>(generator());
    std::ofstream(path, std::ios::binary) << bytes;
    return bytes;
}

}  // namespace pty_io
