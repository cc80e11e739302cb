// The POSIX terminal: raw console, select on line and keyboard together.
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/host.h"
#include "link/link.h"
#include "posix/port.h"
#include "posix/stop.h"
#include "terminal/rules.h"

namespace tolvane {

namespace {

constexpr int KEY_DEL = 0x7F;
constexpr int KEY_BACKSPACE = 0x08;

int console_in_fd = -1;
int console_out_fd = -1;
struct termios saved_console_settings;
bool console_raw = false;

void restore_console() {
    if (!console_raw) return;
    console_raw = false;
    if (tcsetattr(console_in_fd, TCSANOW, &saved_console_settings) != 0)
        std::printf("ioctl: %s\n", std::strerror(errno));
}

// termios rather than termio, so that every flag comes back exactly.
void make_console_raw() {
    if (tcgetattr(console_in_fd, &saved_console_settings) != 0) {
        std::printf("ioctl: %s\n", std::strerror(errno));
        return;
    }
    struct termios raw;
    std::memset(&raw, 0, sizeof raw);
    raw.c_iflag = IGNBRK | IGNPAR;
    raw.c_oflag = 0;
    raw.c_cflag = (saved_console_settings.c_cflag & CBAUD) | CS8 | CREAD | CLOCAL;
    raw.c_lflag = FLUSHO;
    cfsetispeed(&raw, cfgetispeed(&saved_console_settings));
    cfsetospeed(&raw, cfgetospeed(&saved_console_settings));
    if (tcsetattr(console_in_fd, TCSANOW, &raw) != 0) {
        std::printf("ioctl: %s\n", std::strerror(errno));
        return;
    }
    console_raw = true;
    stop_on_exit(restore_console);
}

void console_put(int byte) {
    const unsigned char b = static_cast<unsigned char>(byte);
    while (write(console_out_fd, &b, 1) < 0 && errno == EINTR) {
    }
}

// Reads one key. Returns -1 when the keyboard has nothing more to give
// (end of file or a console gone away), -2 when there was nothing after all.
int read_key() {
    unsigned char b;
    const ssize_t n = read(console_in_fd, &b, 1);
    if (n == 1) return b;
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return -2;
    return -1;
}

}  // namespace

void term_loop() {
    console_in_fd = fileno(stdin);
    console_out_fd = fileno(stdout);
    make_console_raw();
    std::fflush(stdout);

    bool keyboard_open = true;
    for (;;) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(line_fd, &ready);
        int nfds = line_fd;
        if (keyboard_open) {
            FD_SET(console_in_fd, &ready);
            if (console_in_fd > nfds) nfds = console_in_fd;
        }
        const int stop_fd = stop_signal_fd();
        if (stop_fd >= 0) {
            FD_SET(stop_fd, &ready);
            if (stop_fd > nfds) nfds = stop_fd;
        }
        const int n = select(nfds + 1, &ready, nullptr, nullptr, nullptr);
        stop_if_signalled();
        if (n <= 0) continue;

        // The line first, then the keyboard, in every pass.
        if (FD_ISSET(line_fd, &ready)) {
            term_from_line(link_get(), console_put);
            std::fflush(stdout);
        }
        if (keyboard_open && FD_ISSET(console_in_fd, &ready)) {
            int key = read_key();
            if (key == -1) {
                // Keep serving the line as a headless file server.
                keyboard_open = false;
            } else if (key >= 0) {
                if (key == KEY_DEL) key = KEY_BACKSPACE;
                if (!term_from_key(key)) break;
            }
        }
    }

    stop_forget(restore_console);
    restore_console();
}

}  // namespace tolvane
