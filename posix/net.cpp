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
#include "base/modem.h"
#include "net/telnet.h"
#include "net/url.h"

namespace tolvane {

namespace {

using clock = std::chrono::steady_clock;

// A host that does not answer a connect within this is unreachable.
constexpr int CONNECT_PATIENCE_MS = 5000;
// A ser2net answers the line's settings within milliseconds; one that says
// nothing in this long does not speak the COM-PORT-OPTION.
constexpr int SETUP_PATIENCE_MS = 3000;

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

bool send_all(int fd, const unsigned char* bytes, size_t count, net_wait_fn wait, clock::time_point deadline) {
    while (count > 0) {
        const ssize_t n = net_write(fd, bytes, count);
        if (n > 0) {
            bytes += n;
            count -= static_cast<size_t>(n);
        } else if (n < 0 && !worth_retrying(errno)) {
            return false;
        } else if (!wait(fd, POLLOUT, ms_left(deadline))) {
            errno = ETIMEDOUT;
            return false;
        }
    }
    return true;
}

// The modem lines asked for (--dtr, --rts, --pulse), as SET-CONTROL
// commands once the server took the option; modem_apply calls these.
int modem_fd = -1;
net_wait_fn modem_wait = nullptr;

bool send_modem_line(modem_line line, bool on) {
    if (!telnet_queue_setting(codec, com_port_modem_line(line, on))) return false;
    unsigned char buffer[COMMAND_MAX];
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(SETUP_PATIENCE_MS);
    for (size_t n; (n = telnet_take(codec, buffer, sizeof buffer)) > 0;) {
        if (!send_all(modem_fd, buffer, n, modem_wait, deadline)) return false;
    }
    return true;
}

void pause_ms(int ms) { poll(nullptr, 0, ms); }

// Offers the COM-PORT-OPTION, sends the line's settings once the server
// takes it, and reads until every setting is answered. Data between the
// answers is kept for the first reads.
bool set_up_line(int fd, const char* url, long baud, bool quiet, net_wait_fn wait) {
    const auto settings = com_port_line_settings(static_cast<uint32_t>(baud));
    telnet_start(codec, settings.data(), settings.size());
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(SETUP_PATIENCE_MS);
    unsigned char buffer[4096];
    for (;;) {
        size_t n;
        while ((n = telnet_take(codec, buffer, sizeof buffer)) > 0) {
            if (!send_all(fd, buffer, n, wait, deadline)) {
                if (!quit_requested()) say(quiet, url, std::strerror(errno));
                return false;
            }
        }
        std::string why;
        const com_port_state state = com_port_check(codec, &why);
        if (state == com_port_state::agreed) {
            // The pulse resets a board at start, never again on a reconnect.
            modem_fd = fd;
            modem_wait = wait;
            modem_apply(url, !quiet, send_modem_line, pause_ms);
            return true;
        }
        if (state == com_port_state::refused) {
            if (!quiet || why != last_refusal) console_print("open: %s: %s\n", url, why.c_str());
            last_refusal = why;
            return false;
        }
        if (!wait(fd, POLLIN, ms_left(deadline))) {
            if (!quit_requested()) say(quiet, url, "no answer to the line's settings (not a telnet(rfc2217) port?)");
            return false;
        }
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got == 0) {
            say(quiet, url, "the server closed the connection");
            return false;
        }
        if (got < 0) {
            if (worth_retrying(errno)) continue;
            say(quiet, url, std::strerror(errno));
            return false;
        }
        const size_t data = telnet_decode(codec, buffer, static_cast<size_t>(got));
        early.insert(early.end(), buffer, buffer + data);
    }
}

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
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(CONNECT_PATIENCE_MS);
    int fd = -1;
    int error = ECONNREFUSED;
    for (const addrinfo* a = addresses; a && fd < 0 && !quit_requested(); a = a->ai_next)
        fd = connect_to(a, wait, deadline, &error);
    freeaddrinfo(addresses);
    if (fd < 0) {
        if (!quit_requested()) say(quiet, url, std::strerror(error));
        return -1;
    }
    if (telnet_line && !set_up_line(fd, url, baud, quiet, wait)) {
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
    if (telnet_line) return telnet_escape(static_cast<uint8_t>(byte), wire);
    wire[0] = static_cast<unsigned char>(byte);
    return 1;
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
