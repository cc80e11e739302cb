#include "bench/share_reader.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace bench {

bool share_reader_start(ShareReader& r, const std::string& path) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (path.size() >= sizeof a.sun_path) return false;
    path.copy(a.sun_path, sizeof a.sun_path - 1);
    r.fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (r.fd < 0 || connect(r.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (r.fd >= 0) close(r.fd);
        r.fd = -1;
        return false;
    }
    r.thread = std::thread([&r] {
        char buffer[65536];
        while (!r.stop) {
            pollfd p{r.fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = read(r.fd, buffer, sizeof buffer);
            if (n <= 0) break;
            r.bytes += static_cast<size_t>(n);
        }
    });
    return true;
}

void share_reader_stop(ShareReader& r) {
    r.stop = true;
    if (r.thread.joinable()) r.thread.join();
    if (r.fd >= 0) close(r.fd);
    r.fd = -1;
}

}  // namespace bench
