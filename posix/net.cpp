#include "posix/net.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/keys.h"
#include "net/setup.h"
#include "net/telnet.h"
#include "net/url.h"

namespace tolvane {

namespace {

using clock = std::chrono::steady_clock;

bool telnet_line = false;
TelnetCodec codec;
// Data that came between the server's answers while the line was set up.
std::vector<unsigned char> early;
size_t early_next = 0;
std::string last_refusal;  // a reconnect says a refusal once

int ms_left(clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool worth_retrying(int error) { return error == EINTR || error == EAGAIN || error == EWOULDBLOCK; }

void say(bool quiet, const char* url, const std::string& why) {
    if (!quiet) console_print("open: %s: %s\n", url, why.c_str());
}

// A non-blocking socket connected to one of the addresses, or -1 with the
// last address's error.
int connect_to(const addrinfo* address, net_wait_fn wait, clock::time_point deadline, int* error) {
    const int fd = socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address->ai_protocol);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    // A key is one byte: it leaves at once, not when a segment is full.
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (connect(fd, address->ai_addr, address->ai_addrlen) == 0) return fd;
    if (errno != EINPROGRESS) {
        *error = errno;
        close(fd);
        return -1;
    }
    if (!wait(fd, POLLOUT, ms_left(deadline))) {
        *error = quit_requested() ? EINTR : ETIMEDOUT;
        close(fd);
        return -1;
    }
    socklen_t size = sizeof *error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, error, &size) != 0) *error = errno;
    if (*error == 0) return fd;
    close(fd);
    return -1;
}

// The connection being set up, for the shared set-up's calls.
int setup_fd = -1;
net_wait_fn setup_wait = nullptr;

bool setup_send_all(const unsigned char* bytes, size_t count, int ms, std::string* why) {
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(ms);
    while (count > 0) {
        const ssize_t n = net_write(setup_fd, bytes, count);
        if (n > 0) {
            bytes += n;
            count -= static_cast<size_t>(n);
        } else if (n < 0 && !worth_retrying(errno)) {
            *why = std::strerror(errno);
            return false;
        } else if (!setup_wait(setup_fd, POLLOUT, ms_left(deadline))) {
            *why = std::strerror(ETIMEDOUT);
            return false;
        }
    }
    return true;
}

long setup_receive(unsigned char* buffer, size_t size, int ms, std::string* why) {
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (!setup_wait(setup_fd, POLLIN, ms_left(deadline))) return -1;  // the usual words
        const ssize_t got = read(setup_fd, buffer, size);
        if (got >= 0) return static_cast<long>(got);
        if (!worth_retrying(errno)) {
            *why = std::strerror(errno);
            return -1;
        }
    }
}

void pause_ms(int ms) { poll(nullptr, 0, ms); }

const NetSetupIo setup_io = {setup_send_all, setup_receive, pause_ms};

}  // namespace

bool net_is_url(const char* name) { return net_url_scheme(name) != net_scheme::none; }

int net_open(const char* url, long baud, bool quiet, net_wait_fn wait) {
    NetUrl parts;
    std::string why;
    if (!net_url_parse(url, &parts, &why)) {
        say(quiet, url, why);
        return -1;
    }
    telnet_line = parts.scheme == net_scheme::rfc2217;
    early.clear();
    early_next = 0;

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* addresses = nullptr;
    const int resolved = getaddrinfo(parts.host.c_str(), parts.port.c_str(), &hints, &addresses);
    if (resolved != 0) {
        say(quiet, url, resolved == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(resolved));
        return -1;
    }
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(NET_CONNECT_PATIENCE_MS);
    int fd = -1;
    int error = ECONNREFUSED;
    for (const addrinfo* a = addresses; a && fd < 0 && !quit_requested(); a = a->ai_next)
        fd = connect_to(a, wait, deadline, &error);
    freeaddrinfo(addresses);
    if (fd < 0) {
        if (!quit_requested()) say(quiet, url, std::strerror(error));
        return -1;
    }
    setup_fd = fd;
    setup_wait = wait;
    if (telnet_line && !net_set_up_line(codec, url, baud, quiet, setup_io, &early, &last_refusal)) {
        close(fd);
        return -1;
    }
    last_refusal.clear();
    return fd;
}

ssize_t net_read(int fd, unsigned char* buffer, size_t size) {
    if (early_next < early.size()) {
        const size_t n = std::min(size, early.size() - early_next);
        std::memcpy(buffer, early.data() + early_next, n);
        early_next += n;
        return static_cast<ssize_t>(n);
    }
    const ssize_t n = read(fd, buffer, size);
    if (n <= 0 || !telnet_line) return n;
    const size_t data = telnet_decode(codec, buffer, static_cast<size_t>(n));
    if (data > 0) return static_cast<ssize_t>(data);
    errno = EAGAIN;
    return -1;
}

size_t net_pending_input() { return early.size() - early_next; }

size_t net_take_output(unsigned char* dest, size_t room) { return telnet_line ? telnet_take(codec, dest, room) : 0; }

size_t net_encode(int byte, unsigned char* wire) {
    return telnet_wire_byte(telnet_line, static_cast<uint8_t>(byte), wire);
}

ssize_t net_write(int fd, const unsigned char* bytes, size_t count) { return send(fd, bytes, count, MSG_NOSIGNAL); }

void net_close(int fd, int ms) {
    early.clear();
    early_next = 0;
    shutdown(fd, SHUT_WR);
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(ms);
    unsigned char sink[4096];
    for (;;) {
        const ssize_t n = read(fd, sink, sizeof sink);
        if (n == 0 || (n < 0 && !worth_retrying(errno))) break;
        if (n > 0) continue;
        pollfd p{fd, POLLIN, 0};
        const int left = ms_left(deadline);
        if (left == 0 || poll(&p, 1, left) == 0) break;
    }
    close(fd);
}

}  // namespace tolvane
