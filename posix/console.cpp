// The POSIX console's keyboard: keys read from stdin, raw while the
// keyboard is taken. Its output is posix/console_output.cpp.
#include "posix/console.h"

#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/console.h"
#include "base/keyboard.h"
#include "base/keys.h"
#include "base/stop.h"

namespace tolvane {

namespace {

bool same_terminal(int a, int b) {
    struct stat sa, sb;
    return isatty(a) && isatty(b) && fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_rdev == sb.st_rdev;
}

}  // namespace

namespace {

constexpr size_t KEYS_PER_READ = 4096;

struct termios saved_console_settings;
bool console_raw = false;
bool keyboard_open = true;

void restore_console(void*) { keyboard_release(); }

}  // namespace

// termios rather than termio, so that every flag comes back exactly.
const unsigned char KEYBOARD_BACKSPACE = 0x7F;

void keyboard_use(key_form) {}

void keyboard_take() {
    if (!isatty(STDIN_FILENO)) return;  // keys piped in: nothing to set
    if (tcgetattr(STDIN_FILENO, &saved_console_settings) != 0) {
        console_error("ioctl: %s\n", std::strerror(errno));
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
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) {
        console_error("ioctl: %s\n", std::strerror(errno));
        return;
    }
    console_raw = true;
    console_set_crlf(same_terminal(STDIN_FILENO, STDOUT_FILENO));
    console_set_error_crlf(same_terminal(STDIN_FILENO, STDERR_FILENO));
    stop_on_exit(restore_console);
}

bool keyboard_is_terminal() { return isatty(STDIN_FILENO); }

void keyboard_release() {
    if (!console_raw) return;
    console_raw = false;
    stop_forget(restore_console);
    console_set_crlf(false);
    console_set_error_crlf(false);
    if (tcsetattr(STDIN_FILENO, TCSANOW, &saved_console_settings) != 0)
        console_error("ioctl: %s\n", std::strerror(errno));
}

namespace {

// With the key queue full (a line that takes nothing), keys piped in wait
// in their pipe; a terminal is still read, so that Ctrl-Q is seen, and
// what comes with it is dropped.
size_t keys_to_read(const key_queue& queue, size_t buffer_size) {
    if (keys_room(queue) > 0) return std::min(buffer_size, keys_room(queue));
    return isatty(STDIN_FILENO) ? buffer_size : 0;
}

}  // namespace

int console_keyboard_fd(const key_queue& queue) { return keyboard_open && keys_to_read(queue, 1) > 0 ? STDIN_FILENO : -1; }

void console_read_keys(key_queue& queue) {
    if (!keyboard_open) return;
    unsigned char keys[KEYS_PER_READ];
    const size_t want = keys_to_read(queue, sizeof keys);
    if (want == 0) return;
    const ssize_t n = read(STDIN_FILENO, keys, want);
    if (n > 0) {
        keys_add(queue, keys, static_cast<size_t>(n));
    } else if (n == 0 || !(errno == EINTR || errno == EAGAIN)) {
        keyboard_open = false;  // end of input, or the console went away: the line is still served
    }
}

}  // namespace tolvane
