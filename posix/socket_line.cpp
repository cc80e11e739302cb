// The line over the network: rfc2217://HOST:PORT and tcp://HOST:PORT
// (net/url.h). Connects (every wait seeing keys and signals), sets an
// rfc2217 line up (net/setup.h) and keeps telnet out of the data.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/console.h"
#include "base/keys.h"
#include "net/net_line.h"
#include "net/setup.h"
#include "net/telnet.h"
#include "net/url.h"
#include "posix/fd_transport.h"
#include "posix/wait.h"

namespace tolvane {

namespace {

class socket_transport : public fd_transport {
public:
    net_line net;

    long read(unsigned char* buffer, size_t size) override {
        if (const size_t early = net.take_early(buffer, size)) return static_cast<long>(early);
        const ssize_t n = ::read(fd, buffer, size);
        if (n < 0 && worth_retrying(errno)) return 0;
        if (n <= 0) return failed(n, errno);
        return static_cast<long>(net.decode(buffer, static_cast<size_t>(n)));  // 0: only telnet came
    }

    // No SIGPIPE when the server has gone.
    long write(const unsigned char* bytes, size_t count) override {
        const ssize_t n = send(fd, bytes, count, MSG_NOSIGNAL);
        if (n >= 0) return n;
        if (worth_retrying(errno)) return 0;
        return failed(n, errno);
    }

    int doubled_byte() const override { return net.doubled_byte(); }
    size_t take_output(unsigned char* dest, size_t room) override { return net.take_output(dest, room); }
    size_t input_held() const override { return net.early_held(); }
    size_t unsent() override { return queued_in_kernel(); }

    // So that the server gets everything sent: our end closed first, then
    // at most ms for the server to close its end.
    bool close(bool, int ms) override {
        shutdown(fd, SHUT_WR);
        const deadline until = deadline::in(ms);
        unsigned char sink[4096];
        // However fast the server sends, the goodbye ends at its deadline.
        while (!until.passed()) {
            const ssize_t n = ::read(fd, sink, sizeof sink);
            if (n == 0 || (n < 0 && !worth_retrying(errno))) break;
            if (n > 0) continue;
            pollfd p{fd, POLLIN, 0};
            const int left = until.left_ms();
            if (left == 0 || poll(&p, 1, left) == 0) break;
        }
        ::close(fd);
        return true;
    }

    bool let_go() override {
        ::close(fd);
        return true;
    }

    long speed() const override { return net.baud; }

    bool set_speed(long baud) override { return net.set_speed(baud); }
    bool set_break(bool on) override { return net.set_break(on); }
    bool set_frame(const line_settings& frame) override { return net.set_frame(frame); }
    void purge(bool input, bool output) override { net.purge(input, output); }
    bool set_modem_line(modem_line line, bool on) override { return net.set_modem_line(line, on); }
};

std::string last_refusal;  // a reconnect says a refusal once

void say(bool quiet, const char* url, const std::string& why) {
    if (!quiet) console_error("open: %s: %s\n", url, why.c_str());
}

// A non-blocking socket connected to the address, or -1 with the error.
int connect_to(const wait_watch& watch, const addrinfo* address, deadline until, int* error) {
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
    if (!wait_fd_ready(watch, fd, POLLOUT, until)) {
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

// The connection's calls while the line is set up; their context.
struct setup_socket {
    int fd;
    const wait_watch& watch;
};

bool setup_send_all(void* context, const unsigned char* bytes, size_t count, deadline until, std::string* why) {
    const setup_socket& connection = *static_cast<setup_socket*>(context);
    const int fd = connection.fd;
    while (count > 0) {
        const ssize_t n = send(fd, bytes, count, MSG_NOSIGNAL);
        if (n > 0) {
            bytes += n;
            count -= static_cast<size_t>(n);
        } else if (n < 0 && !worth_retrying(errno)) {
            *why = std::strerror(errno);
            return false;
        } else if (!wait_fd_ready(connection.watch, fd, POLLOUT, until)) {
            *why = std::strerror(ETIMEDOUT);
            return false;
        }
    }
    return true;
}

long setup_receive(void* context, unsigned char* buffer, size_t size, deadline until, std::string* why) {
    const setup_socket& connection = *static_cast<setup_socket*>(context);
    const int fd = connection.fd;
    for (;;) {
        if (!wait_fd_ready(connection.watch, fd, POLLIN, until)) return -1;  // the usual words
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0) return static_cast<long>(got);
        if (!worth_retrying(errno)) {
            *why = std::strerror(errno);
            return -1;
        }
    }
}

void pause_ms(int ms) { poll(nullptr, 0, ms); }

// A name lookup in a thread of its own: the resolver may take seconds or
// never answer, and Ctrl-Q, signals and the --timeout must not wait for
// it. A lookup given up frees its own result when it ends.
struct lookup {
    std::mutex lock;
    bool done = false;
    int result = 0;
    int error = 0;
    addrinfo* addresses = nullptr;
    int ready[2] = {-1, -1};  // a byte when done

    ~lookup() {
        if (addresses) freeaddrinfo(addresses);
        for (int fd : ready)
            if (fd >= 0) close(fd);
    }
};

void look_up(std::shared_ptr<lookup> l, std::string host, std::string port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* addresses = nullptr;
    const int result = getaddrinfo(host.c_str(), port.c_str(), &hints, &addresses);
    const int error = errno;
    std::lock_guard<std::mutex> guard(l->lock);
    l->result = result;
    l->error = error;
    l->addresses = addresses;
    l->done = true;
    const unsigned char byte = 1;
    if (write(l->ready[1], &byte, 1) < 0) {
        // the waiter sees done at its next look all the same
    }
}

// The addresses of the URL's host (null after saying why, or on Ctrl-Q);
// the caller frees them.
addrinfo* resolve(const wait_watch& watch, const NetUrl& parts, const char* url, bool quiet) {
    auto l = std::make_shared<lookup>();
    if (pipe2(l->ready, O_CLOEXEC) != 0) {
        say(quiet, url, std::strerror(errno));
        return nullptr;
    }
    std::thread(look_up, l, parts.host, parts.port).detach();
    wait_fd_ready(watch, l->ready[0], POLLIN, deadline::never());
    std::lock_guard<std::mutex> guard(l->lock);
    if (!l->done) {
        return nullptr;  // Ctrl-Q or the --timeout: the thread finishes alone
    }
    if (l->result != 0) {
        say(quiet, url, l->result == EAI_SYSTEM ? std::strerror(l->error) : gai_strerror(l->result));
        return nullptr;
    }
    addrinfo* addresses = l->addresses;
    l->addresses = nullptr;
    return addresses;
}

// A connected socket to the URL's host, or -1 after saying why.
int connect_url(const wait_watch& watch, const NetUrl& parts, const char* url, bool quiet) {
    addrinfo* addresses = resolve(watch, parts, url, quiet);
    if (addresses == nullptr) return -1;
    const deadline until = deadline::in(NET_CONNECT_PATIENCE_MS);
    int fd = -1;
    int error = ECONNREFUSED;
    for (const addrinfo* a = addresses; a && fd < 0 && !quit_requested(); a = a->ai_next)
        fd = connect_to(watch, a, until, &error);
    freeaddrinfo(addresses);
    if (fd < 0 && !quit_requested()) say(quiet, url, std::strerror(error));
    return fd;
}

}  // namespace

line_transport* network_transport_open(const line_settings& settings, bool first, bool quiet, const wait_watch& watch) {
    const char* url = settings.device.c_str();
    NetUrl parts;
    std::string why;
    if (!net_url_parse(url, &parts, &why)) {
        say(quiet, url, why);
        return nullptr;
    }
    if (parts.scheme == net_scheme::unix_socket) return local_transport_open(settings, parts.host, quiet);
    const int fd = connect_url(watch, parts, url, quiet);
    if (fd < 0) return nullptr;
    socket_transport* line = new socket_transport;
    line->fd = fd;
    line->net.baud = settings.baud;
    line->net.telnet = parts.scheme == net_scheme::rfc2217;
    setup_socket connection{fd, watch};
    const NetSetupIo io = {&connection, setup_send_all, setup_receive, pause_ms};
    if (line->net.telnet &&
        !net_set_up_line(line->net.codec, settings, first, quiet, io, &line->net.early, &last_refusal)) {
        close(fd);
        delete line;
        return nullptr;
    }
    last_refusal.clear();
    return line;
}

}  // namespace tolvane
