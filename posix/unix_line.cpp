// The line unix:PATH: a local socket, another tolvane's --share. The
// bytes as they are, both ways; no speed, frame or modem lines.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/console.h"
#include "posix/fd_transport.h"

namespace tolvane {

namespace {

class unix_transport : public fd_transport {
public:
    long baud = 0;

    long read(unsigned char* buffer, size_t size) override {
        const ssize_t n = ::read(fd, buffer, size);
        if (n < 0 && worth_retrying(errno)) return 0;
        if (n <= 0) return failed(n, errno);
        return n;
    }

    long write(const unsigned char* bytes, size_t count) override {
        const ssize_t n = send(fd, bytes, count, MSG_NOSIGNAL);
        if (n >= 0) return n;
        if (worth_retrying(errno)) return 0;
        return failed(n, errno);
    }

    size_t unsent() override { return queued_in_kernel(); }

    bool close(bool, int) override {
        ::close(fd);
        return true;
    }

    bool let_go() override {
        ::close(fd);
        return true;
    }

    long speed() const override { return baud; }
};

}  // namespace

line_transport* local_transport_open(const line_settings& settings, const std::string& path, bool quiet) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        if (!quiet) console_error("open: %s: %s\n", settings.device.c_str(), std::strerror(ENAMETOOLONG));
        return nullptr;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // A local connect is made or refused at once: no wait to watch.
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (!quiet) console_error("open: %s: %s\n", settings.device.c_str(), std::strerror(errno));
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    unix_transport* line = new unix_transport;
    line->fd = fd;
    line->baud = settings.baud;
    return line;
}

}  // namespace tolvane
