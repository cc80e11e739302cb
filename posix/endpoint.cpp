// The share's and the events' far ends on POSIX: descriptors, all of them
// non-blocking, polled by the wait (posix/wait.cpp).
#include "net/endpoint.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "posix/fd_transport.h"
#include "posix/wait.h"

namespace tolvane {

struct listener {
    int fd = -1;
    std::string path;  // unix: the socket file to remove at the end
};

struct endpoint {
    int fd = -1;
};

namespace {

constexpr int BACKLOG = 16;

sockaddr_un local_address(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), std::min(path.size(), sizeof address.sun_path - 1));
    return address;
}

// A socket file another process still listens at: someone answers.
bool in_use(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const sockaddr_un address = local_address(path);
    const bool answered = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return answered;
}

int listen_local(const std::string& path, std::string* why) {
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            *why = "exists and is no socket";
            return -1;
        }
        if (in_use(path)) {
            *why = "in use by another program";
            return -1;
        }
        unlink(path.c_str());  // left behind by a run that ended without its goodbye
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *why = std::strerror(errno);
        return -1;
    }
    const sockaddr_un address = local_address(path);
    // The socket file is the user's alone from its first moment.
    const mode_t old_mask = umask(0177);
    const int bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int error = errno;
    umask(old_mask);
    if (bound != 0 || listen(fd, BACKLOG) != 0) {
        *why = std::strerror(bound != 0 ? error : errno);
        close(fd);
        return -1;
    }
    return fd;
}

int listen_tcp(const share_address& address, std::string* why) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    const int result = getaddrinfo(address.host.empty() ? nullptr : address.host.c_str(), address.port.c_str(), &hints, &found);
    if (result != 0) {
        *why = gai_strerror(result);
        return -1;
    }
    int fd = -1;
    int error = EADDRNOTAVAIL;
    for (const addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            error = errno;
            continue;
        }
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, BACKLOG) != 0) {
            error = errno;
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd < 0) *why = std::strerror(error);
    return fd;
}

}  // namespace

listener* listener_open(const share_address& address, std::string* why) {
    const int fd = address.local ? listen_local(address.path, why) : listen_tcp(address, why);
    if (fd < 0) return nullptr;
    listener* l = new listener;
    l->fd = fd;
    if (address.local) l->path = address.path;
    return l;
}

endpoint* listener_accept(listener* l) {
    const int fd = accept4(l->fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return nullptr;
    // The board's text leaves at once, not when a segment is full (a unix
    // socket refuses the option, which is fine).
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    endpoint* e = new endpoint;
    e->fd = fd;
    return e;
}

void listener_close(listener* l) {
    if (l == nullptr) return;
    close(l->fd);
    if (!l->path.empty()) unlink(l->path.c_str());
    delete l;
}

void listener_add_waits(listener* l, wait_set* set) { wait_set_add(set, l->fd, POLLIN); }

namespace {

bool fd_ready(int fd, const wait_set& set, short events = ~0) {
    for (size_t i = 0; i < set.other_count; ++i)
        if (set.others[i].fd == fd) return (set.others[i].revents & events) != 0;
    return false;
}

}  // namespace

bool listener_ready(const listener* l, const wait_set& set) { return fd_ready(l->fd, set); }
bool endpoint_ready(const endpoint* e, const wait_set& set) { return fd_ready(e->fd, set); }
bool endpoint_readable(const endpoint* e, const wait_set& set) {
    return fd_ready(e->fd, set, POLLIN | POLLHUP | POLLERR);
}

endpoint* endpoint_open_file(const std::string& path, std::string* why) {
    struct stat st;
    const bool fifo = stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
    // A FIFO opened for both ways never waits for its reader, nor fails
    // while none is there: what does not fit is dropped by the writer.
    const int flags = fifo ? O_RDWR : O_WRONLY | O_CREAT | O_APPEND;
    const int fd = open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        *why = std::strerror(errno);
        return nullptr;
    }
    endpoint* e = new endpoint;
    e->fd = fd;
    return e;
}

endpoint* endpoint_connect(const share_address& address, int ms, std::string* why) {
    int fd = -1;
    int error = ECONNREFUSED;
    if (address.local) {
        fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un a = local_address(address.path);
        if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
            error = errno;
            close(fd);
            fd = -1;
        }
    } else {
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICSERV;
        addrinfo* found = nullptr;
        const std::string host = address.host.empty() ? "localhost" : address.host;
        if (getaddrinfo(host.c_str(), address.port.c_str(), &hints, &found) != 0) found = nullptr;
        for (const addrinfo* a = found; a && fd < 0; a = a->ai_next) {
            fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
            // A share on this machine or near it answers at once; ms bounds the rest.
            timeval limit{ms / 1000, (ms % 1000) * 1000};
            if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
            if (fd >= 0 && connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
                error = errno;
                close(fd);
                fd = -1;
            }
        }
        if (found) freeaddrinfo(found);
    }
    if (fd < 0) {
        *why = std::strerror(error);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    endpoint* e = new endpoint;
    e->fd = fd;
    return e;
}

bool endpoint_wait_input(endpoint* e, int ms) {
    pollfd p{e->fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}

long endpoint_read(endpoint* e, unsigned char* buffer, size_t size) {
    const ssize_t n = recv(e->fd, buffer, size, 0);
    if (n > 0) return n;
    if (n < 0 && (worth_retrying(errno) || errno == ENOTSOCK)) return 0;
    return ENDPOINT_GONE;
}

long endpoint_write(endpoint* e, const unsigned char* bytes, size_t count) {
    ssize_t n = send(e->fd, bytes, count, MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = write(e->fd, bytes, count);
    if (n >= 0) return n;
    return worth_retrying(errno) ? 0 : ENDPOINT_GONE;
}

void endpoint_close(endpoint* e) {
    if (e == nullptr) return;
    close(e->fd);
    delete e;
}

void endpoint_add_waits(endpoint* e, wait_set* set, bool input, bool output) {
    const short events = static_cast<short>((input ? POLLIN : 0) | (output ? POLLOUT : 0));
    if (events) wait_set_add(set, e->fd, events);
}

}  // namespace tolvane
