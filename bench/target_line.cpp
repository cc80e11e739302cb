#include "bench/target_line.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "link/link.h"

namespace bench {

namespace {

constexpr size_t BUFFER_SIZE = 64 * 1024;

int line_fd = -1;
int wait_ms = 5000;
bool failed = false;

unsigned char in_buffer[BUFFER_SIZE];
size_t in_next = 0;
size_t in_end = 0;

unsigned char out_buffer[BUFFER_SIZE];
size_t out_used = 0;

bool wait_for(short events) {
    pollfd p{line_fd, events, 0};
    return poll(&p, 1, wait_ms) > 0 && (p.revents & events);
}

void fill() {
    target_flush();
    in_next = in_end = 0;
    while (!failed) {
        const ssize_t n = read(line_fd, in_buffer, sizeof in_buffer);
        if (n > 0) {
            in_end = static_cast<size_t>(n);
            return;
        }
        if ((n < 0 && errno != EAGAIN && errno != EINTR) || n == 0 || !wait_for(POLLIN)) failed = true;
    }
}

}  // namespace

void target_attach(int fd, int timeout_ms) {
    line_fd = fd;
    wait_ms = timeout_ms;
    failed = false;
    in_next = in_end = out_used = 0;
}

bool target_failed() { return failed; }

void target_flush() {
    size_t done = 0;
    while (done < out_used && !failed) {
        const ssize_t n = write(line_fd, out_buffer + done, out_used - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if ((n < 0 && errno != EAGAIN && errno != EINTR) || !wait_for(POLLOUT))
            failed = true;
    }
    out_used = 0;
}

}  // namespace bench

namespace tolvane {

int link_get_raw() {
    if (bench::in_next == bench::in_end) bench::fill();
    if (bench::failed) return BYTE_ETX;
    return bench::in_buffer[bench::in_next++];
}

void link_put_raw(int byte) {
    if (bench::out_used == sizeof bench::out_buffer) bench::target_flush();
    bench::out_buffer[bench::out_used++] = static_cast<unsigned char>(byte);
}

}  // namespace tolvane
