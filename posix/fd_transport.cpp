#include "posix/fd_transport.h"

#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "posix/wait.h"

namespace tolvane {

void fd_transport::add_waits(wait_set* set) { set->fd = fd; }

namespace {

// What a device that went away (a USB board reset or unplugged) or a
// connection that broke answers.
bool went_away_by(long result, int error) {
    return result == 0 || error == EIO || error == ENXIO || error == ENODEV || error == EPIPE || error == ECONNRESET ||
           error == ECONNABORTED || error == ETIMEDOUT || error == EHOSTUNREACH || error == ENETUNREACH;
}

}  // namespace

bool worth_retrying(int error) { return error == EINTR || error == EAGAIN || error == EWOULDBLOCK; }

long fd_transport::failed(long result, int error) {
    why = result == 0 ? "line closed" : std::strerror(error);
    went_away = went_away_by(result, error);
    return LINE_FAILED;
}

// TIOCOUTQ: a tty's output queue, a socket's unsent bytes; 0 where the
// driver cannot tell.
size_t fd_transport::queued_in_kernel() const {
    int pending = 0;
    return ioctl(fd, TIOCOUTQ, &pending) == 0 && pending > 0 ? static_cast<size_t>(pending) : 0;
}

}  // namespace tolvane
