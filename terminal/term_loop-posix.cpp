// The POSIX terminal: raw console, poll on line and keyboard together.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/host.h"
#include "app/settings.h"
#include "link/link.h"
#include "posix/port.h"
#include "posix/stop.h"
#include "terminal/console.h"
#include "terminal/rules.h"

namespace tolvane {

namespace {

constexpr int KEY_DEL = 0x7F;
constexpr int KEY_BACKSPACE = 0x08;
constexpr size_t KEYS_PER_READ = 256;
// How often a line that went away is looked for (-w).
constexpr int LINE_LOOK_MS = 250;

int console_in_fd = -1;
struct termios saved_console_settings;
bool console_raw = false;
bool keyboard_open = true;

void restore_console() {
    if (!console_raw) return;
    console_raw = false;
    console_set_raw(false);
    if (tcsetattr(console_in_fd, TCSANOW, &saved_console_settings) != 0)
        console_print("ioctl: %s\n", std::strerror(errno));
}

// termios rather than termio, so that every flag comes back exactly.
void make_console_raw() {
    if (tcgetattr(console_in_fd, &saved_console_settings) != 0) {
        console_print("ioctl: %s\n", std::strerror(errno));
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
        console_print("ioctl: %s\n", std::strerror(errno));
        return;
    }
    console_raw = true;
    console_set_raw(true);
    stop_on_exit(restore_console);
}

// Reads the keys that are there. Returns how many (DEL already made BS),
// 0 when there was nothing after all. At end of file (or a console gone
// away) the keyboard is closed for good: tolvane goes on serving the line.
size_t read_keys(unsigned char* keys) {
    const ssize_t n = read(console_in_fd, keys, KEYS_PER_READ);
    if (n > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            if (keys[i] == KEY_DEL) keys[i] = KEY_BACKSPACE;
        }
        return static_cast<size_t>(n);
    }
    if (n == 0 || !(errno == EINTR || errno == EAGAIN)) {
        keyboard_open = false;
        port_watch_keyboard(-1, nullptr);
    }
    return 0;
}

// In the middle of a request: keys are kept for later, Ctrl-Q ends it all.
void keys_during_request() {
    unsigned char keys[KEYS_PER_READ];
    const size_t n = read_keys(keys);
    for (size_t i = 0; i < n; ++i) {
        if (keys[i] == KEY_QUIT) term_quit();
        term_keep_key(keys[i]);
    }
}

// Every byte already received, before the next key.
void serve_line() {
    while (port_buffered() > 0) term_from_line(link_get());
}

// False when Ctrl-Q came: the keys after it in the same read are dropped.
bool serve_keyboard() {
    unsigned char keys[KEYS_PER_READ];
    const size_t n = read_keys(keys);
    for (size_t i = 0; i < n; ++i) {
        if (!term_from_key(keys[i])) return false;
    }
    return true;
}

// -w: the line went away. Looks for it a few times a second, the keyboard
// watched for Ctrl-Q (other keys have no line to go to and are dropped).
// False when Ctrl-Q came first.
bool wait_for_line_back() {
    for (;;) {
        console_flush();
        pollfd fds[2] = {{keyboard_open ? console_in_fd : -1, POLLIN, 0}, {stop_signal_fd(), POLLIN, 0}};
        const int n = poll(fds, 2, LINE_LOOK_MS);
        stop_if_signalled();
        if (n > 0 && fds[0].revents) {
            unsigned char keys[KEYS_PER_READ];
            const size_t count = read_keys(keys);
            if (std::memchr(keys, KEY_QUIT, count)) return false;
        }
        if (port_reopen()) return true;
    }
}

}  // namespace

void term_loop() {
    console_in_fd = STDIN_FILENO;
    make_console_raw();
    port_watch_keyboard(console_in_fd, keys_during_request);
    port_wait_when_gone(wait_for_line);

    for (;;) {
        console_flush();
        port_flush();
        pollfd fds[3] = {{line_fd, POLLIN, 0}, {keyboard_open ? console_in_fd : -1, POLLIN, 0},
                         {stop_signal_fd(), POLLIN, 0}};
        const int n = poll(fds, 3, -1);
        stop_if_signalled();
        if (n <= 0) continue;

        // The line first, then the keyboard, in every pass.
        if (fds[0].revents) port_fill();
        serve_line();
        if (port_gone()) {
            term_drop_kept_keys();
            if (!wait_for_line_back()) break;
            continue;  // the keys of this pass were read while waiting
        }
        term_send_kept_keys();
        if (fds[1].revents && keyboard_open && !serve_keyboard()) break;
    }

    port_wait_when_gone(false);
    port_watch_keyboard(-1, nullptr);
    console_flush();
    stop_forget(restore_console);
    restore_console();
}

}  // namespace tolvane
