// The POSIX console: target bytes batched and written straight to the
// descriptor, the program's text through stdout.
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <string>

#include "terminal/console.h"
#include "terminal/console_platform.h"
#include "terminal/session_log.h"

namespace tolvane {

namespace {

std::array<unsigned char, 16384> batch;
size_t batched = 0;
bool crlf = false;

void write_all(int fd, const unsigned char* bytes, size_t count) {
    while (count > 0) {
        const ssize_t n = write(fd, bytes, count);
        if (n > 0) {
            bytes += n;
            count -= static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, -1);
        } else if (!(n < 0 && errno == EINTR)) {
            return;  // the console is gone; the line is still served
        }
    }
}

bool same_terminal(int a, int b) {
    struct stat sa, sb;
    return isatty(a) && isatty(b) && fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_rdev == sb.st_rdev;
}

}  // namespace

void console_put(int byte) {
    if (batched == batch.size()) console_flush();
    batch[batched++] = static_cast<unsigned char>(byte);
    console_last_shown = byte & 0xFF;
}

void console_flush() {
    if (batched == 0) return;
    write_all(STDOUT_FILENO, batch.data(), batched);
    session_log_write(reinterpret_cast<const char*>(batch.data()), batched);
    batched = 0;
}

void console_show_text(std::string& text) {
    if (crlf) {
        for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) text.insert(at, 1, '\r');
    }
    console_flush();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void console_set_raw(bool raw) { crlf = raw && same_terminal(STDIN_FILENO, STDOUT_FILENO); }

}  // namespace tolvane
