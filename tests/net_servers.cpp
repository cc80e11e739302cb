#include "tests/net_servers.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

pid_t spawn(const std::vector<std::string>& args, const std::string& log) {
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives the test
        if (getppid() != parent) _exit(126);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

bool exited(pid_t pid) {
    int status;
    return waitpid(pid, &status, WNOHANG) == pid;
}

// Waits until the server listens on every port, or says why it does not.
std::string wait_listening(Server& server, std::initializer_list<int> ports) {
    for (int port : ports) {
        if (!listening(port, 5000)) {
            std::ifstream in(server.log);
            const std::string said((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            stop(server);
            return "nothing listens on port " + std::to_string(port) + "; the server said: " + said;
        }
    }
    return "";
}

std::string start_configured(Ser2net& s) {
    const std::string ser2net = installed("ser2net");
    if (ser2net.empty()) return "ser2net is not installed (Debian: ser2net)";
    // -n: stay in the foreground; -u: no UUCP lock files.
    s.pid = spawn({ser2net, "-n", "-u", "-P", s.config + ".pid", "-c", s.config}, s.log);
    return wait_listening(s, {s.rfc2217_port, s.tcp_port});
}

}  // namespace

std::string installed(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = std::string(path ? path : "") + ":/usr/sbin:/sbin";
    size_t start = 0;
    for (;;) {
        const size_t end = dirs.find(':', start);
        const std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        if (end == std::string::npos) return "";
        start = end + 1;
    }
}

int free_port() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t size = sizeof a;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

bool listening(int port, int timeout_ms) {
    // Read from the kernel's table, not by connecting: a connection would
    // make the server open the device.
    char local[32];
    std::snprintf(local, sizeof local, "0100007F:%04X", port);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        std::ifstream table("/proc/net/tcp");
        std::string line;
        while (std::getline(table, line)) {
            std::istringstream fields(line);
            std::string slot, address, remote, state;
            fields >> slot >> address >> remote >> state;
            if (address == local && state == "0A") return true;  // LISTEN
        }
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

Server::~Server() { stop(*this); }

void stop(Server& server) {
    if (server.pid <= 0) return;
    kill(server.pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (!exited(server.pid)) {
        if (Clock::now() > deadline) {
            kill(server.pid, SIGKILL);
            waitpid(server.pid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    server.pid = -1;
}

std::string Ser2net::rfc2217_url() const { return "rfc2217://127.0.0.1:" + std::to_string(rfc2217_port); }
std::string Ser2net::tcp_url() const { return "tcp://127.0.0.1:" + std::to_string(tcp_port); }

std::string start_ser2net(Ser2net& s, const std::string& device, const std::string& dir) {
    s.device = device;
    s.config = dir + "/ser2net.yaml";
    s.log = dir + "/ser2net.log";
    // A port taken between free_port and ser2net's bind: try others.
    std::string why;
    for (int attempt = 0; attempt < 3; ++attempt) {
        s.rfc2217_port = free_port();
        s.tcp_port = free_port();
        if (s.tcp_port == s.rfc2217_port) continue;
        std::string options;
        if (!s.options.empty()) options = "  options:\n    " + s.options + "\n";
        std::ofstream(s.config) << "connection: &board-rfc2217\n"
                                   "  accepter: telnet(rfc2217),tcp,127.0.0.1,"
                                << s.rfc2217_port << "\n  connector: serialdev," << device << ",115200n81,local\n"
                                << options
                                << "connection: &board-tcp\n"
                                   "  accepter: tcp,127.0.0.1,"
                                << s.tcp_port << "\n  connector: serialdev," << device << ",115200n81,local\n"
                                << options;
        why = start_configured(s);
        if (why.empty() || why.find("not installed") != std::string::npos) return why;
    }
    return why;
}

std::string restart_ser2net(Ser2net& s) { return start_configured(s); }

std::string Socat::url() const { return "tcp://127.0.0.1:" + std::to_string(port); }

std::string start_socat(Socat& s, const std::string& device, const std::string& dir) {
    const std::string socat = installed("socat");
    if (socat.empty()) return "socat is not installed (Debian: socat)";
    s.log = dir + "/socat.log";
    std::string why;
    for (int attempt = 0; attempt < 3; ++attempt) {
        s.port = free_port();
        s.pid = spawn({socat, "TCP-LISTEN:" + std::to_string(s.port) + ",bind=127.0.0.1,reuseaddr",
                       "FILE:" + device + ",raw,echo=0"},
                      s.log);
        why = wait_listening(s, {s.port});
        if (why.empty()) return why;
    }
    return why;
}

std::string served_name(ServedBy kind) {
    return kind == ServedBy::rfc2217 ? "rfc2217" : kind == ServedBy::ser2net_tcp ? "ser2net_tcp" : "socat_tcp";
}

std::string serve(Lab& lab, ServedBy kind, const std::string& device, const std::string& dir) {
    lab.dir = dir;
    if (kind == ServedBy::socat_tcp) {
        const std::string why = start_socat(lab.socat, device, dir);
        lab.url = lab.socat.url();
        return why;
    }
    const std::string why = start_ser2net(lab.ser2net, device, dir);
    lab.url = kind == ServedBy::rfc2217 ? lab.ser2net.rfc2217_url() : lab.ser2net.tcp_url();
    return why;
}

namespace {

constexpr uint8_t IAC = 255, SB = 250, SE = 240, DO = 253, COM_PORT = 44;
// The COM-PORT commands a client sends, SET-BAUDRATE (1) to PURGE-DATA (12).
constexpr uint8_t FIRST_COMMAND = 1, LAST_COMMAND = 12, SERVER = 100;

// Answers each whole COM-PORT subnegotiation in bytes from `from` on with
// the same value; returns where to look next time (an unfinished one
// waits for its end). Data holding IAC SB is not expected here.
size_t answer_commands(int fd, const std::vector<uint8_t>& bytes, size_t from) {
    size_t i = from;
    while (i + 1 < bytes.size()) {
        if (bytes[i] != IAC || bytes[i + 1] != SB) {
            ++i;
            continue;
        }
        size_t end = i + 2;
        while (end + 1 < bytes.size() && !(bytes[end] == IAC && bytes[end + 1] == SE)) ++end;
        if (end + 1 >= bytes.size()) return i;
        const bool command = end - i > 3 && bytes[i + 2] == COM_PORT && bytes[i + 3] >= FIRST_COMMAND &&
                             bytes[i + 3] <= LAST_COMMAND;
        if (command) {
            std::vector<uint8_t> answer(bytes.begin() + static_cast<long>(i), bytes.begin() + static_cast<long>(end) + 2);
            answer[3] = static_cast<uint8_t>(answer[3] + SERVER);
            send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        }
        i = end + 2;
    }
    return i;
}

}  // namespace

Rfc2217Recorder::~Rfc2217Recorder() {
    if (thread.joinable()) thread.join();
    if (listener >= 0) close(listener);
}

std::string Rfc2217Recorder::url() const { return "rfc2217://127.0.0.1:" + std::to_string(port); }

std::vector<uint8_t> Rfc2217Recorder::so_far() {
    std::lock_guard<std::mutex> hold(mutex);
    return received;
}

std::string start_rfc2217_recorder(Rfc2217Recorder& r) {
    r.listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t size = sizeof a;
    if (bind(r.listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(r.listener, 1) != 0 ||
        getsockname(r.listener, reinterpret_cast<sockaddr*>(&a), &size) != 0)
        return std::string("cannot listen: ") + std::strerror(errno);
    r.port = ntohs(a.sin_port);
    r.thread = std::thread([&r] {
        pollfd p{r.listener, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0) return;
        const int fd = accept(r.listener, nullptr, nullptr);
        const uint8_t take_it[] = {IAC, DO, COM_PORT};
        send(fd, take_it, sizeof take_it, MSG_NOSIGNAL);
        std::vector<uint8_t> all;
        size_t unanswered = 0;
        for (;;) {
            pollfd c{fd, POLLIN, 0};
            if (poll(&c, 1, 10000) <= 0) break;
            uint8_t buffer[4096];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            all.insert(all.end(), buffer, buffer + n);
            {
                std::lock_guard<std::mutex> hold(r.mutex);
                r.received = all;
            }
            unanswered = answer_commands(fd, all, unanswered);
        }
        close(fd);
    });
    return "";
}

std::vector<uint8_t> com_port_request(uint8_t command, uint8_t value) {
    return {IAC, SB, COM_PORT, command, value, IAC, SE};
}

}  // namespace e2e
