#include "posix/port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "link/link.h"
#include "posix/stop.h"
#include "terminal/console.h"
#include "terminal/session_log.h"

namespace tolvane {

int line_fd = -1;

namespace {

// One read takes whatever a fast USB line has delivered; one write takes a
// whole reply to a 4096-byte read, escapes and all.
constexpr size_t LINE_BUFFER_SIZE = 16384;
// On a way out a line that takes nothing for this long gets no more.
constexpr int LAST_OUTPUT_PATIENCE_MS = 500;

struct termios saved_line_settings;
std::string line_device;

std::array<unsigned char, LINE_BUFFER_SIZE> in_buffer;
size_t in_next = 0;
size_t in_end = 0;
std::array<unsigned char, LINE_BUFFER_SIZE> out_queue;
size_t out_count = 0;

int keyboard_fd = -1;
void (*keyboard_ready)() = nullptr;

speed_t line_speed = B115200;
bool wait_when_gone = false;
bool gone = false;

struct SpeedCode {
    long baud;
    speed_t code;
};
constexpr std::array<SpeedCode, 9> speed_codes{{
    {300, B300},
    {1200, B1200},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
}};

bool worth_retrying(int error) { return error == EINTR || error == EAGAIN || error == EWOULDBLOCK; }

// Writes what is queued without waiting; returns 0, or the error that
// ended the line (the rest of the queue is then dropped).
int write_queued() {
    size_t done = 0;
    int error = 0;
    while (done < out_count) {
        const ssize_t n = write(line_fd, out_queue.data() + done, out_count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else {
            if (n < 0 && !worth_retrying(errno)) error = errno;
            break;
        }
    }
    std::memmove(out_queue.data(), out_queue.data() + done, out_count - done);
    out_count = error ? 0 : out_count - done;
    return error;
}

// On the ways out: sends what the line still takes, but never hangs on a
// line that takes nothing.
void flush_before_leaving() {
    while (out_count > 0 && write_queued() == 0 && out_count > 0) {
        pollfd p{line_fd, POLLOUT, 0};
        const int n = poll(&p, 1, LAST_OUTPUT_PATIENCE_MS);
        if (n == 0 || (n < 0 && errno != EINTR)) break;
    }
    out_count = 0;
}

// Every way out: the queue sent, then the old settings once the output has
// left at the line's speed.
void restore_line() {
    if (line_fd < 0) return;
    flush_before_leaving();
    while (tcsetattr(line_fd, TCSADRAIN, &saved_line_settings) != 0 && errno == EINTR) {
    }
    close(line_fd);
    line_fd = -1;
}

void say_line_lost(const char* operation, int result, int error) {
    if (result == 0)
        console_print("%s: %s: line closed\n", operation, line_device.c_str());
    else
        console_print("%s: %s: %s\n", operation, line_device.c_str(), std::strerror(error));
}

// What a device that went away (a USB board reset or unplugged) answers.
bool device_went_away(int result, int error) {
    return result == 0 || error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
}

// The line failed for good. With -w a device that went away is let go and
// waited for: until it is back, reads answer ETX at once and writes are
// dropped, so a request in progress runs out by itself. Otherwise the
// program ends.
void line_lost(const char* operation, int result, int error) {
    out_count = 0;  // nothing more can leave
    if (wait_when_gone && device_went_away(result, error)) {
        console_start_line();
        session_log_note("line lost");
        say_line_lost(operation, result, error);
        console_print("waiting for %s (Ctrl-Q ends)\n", line_device.c_str());
        stop_forget(restore_line);
        tcsetattr(line_fd, TCSANOW, &saved_line_settings);  // if the device is still there to take them
        close(line_fd);
        line_fd = -1;
        in_next = in_end = 0;
        gone = true;
        return;
    }
    stop_restore();  // the message then reads on a cooked console
    say_line_lost(operation, result, error);
    stop_now(-1);
}

// Opens the device and makes it a raw 8N1 line, saving its settings; -1
// (after saying why, unless quiet) when it cannot.
int open_line(const char* device, speed_t speed, bool quiet) {
    // O_NONBLOCK: a modem line without carrier cannot hang the open, and
    // every wait happens in poll, where a signal is seen at once.
    // O_NOCTTY: the line never becomes our controlling terminal.
    const int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (!quiet) console_print("open: %s: %s\n", device, std::strerror(errno));
        return -1;
    }
    // The lock picocom and tio take too: two programs on one line would
    // split its bytes between them.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (!quiet && errno == EWOULDBLOCK)
            console_print("open: %s: line in use by another program\n", device);
        else if (!quiet)
            console_print("open: %s: %s\n", device, std::strerror(errno));
        close(fd);
        return -1;
    }

    if (tcgetattr(fd, &saved_line_settings) != 0) {
        if (!quiet) console_print("ioctl: %s: %s\n", device, std::strerror(errno));
        close(fd);
        return -1;
    }
    // termios, not the 16-bit termio: its c_cflag reaches CRTSCTS and CMSPAR.
    struct termios raw;
    std::memset(&raw, 0, sizeof raw);
    raw.c_iflag = IGNBRK | IGNPAR;
    raw.c_oflag = 0;
    raw.c_cflag = CS8 | CREAD | CLOCAL;
    raw.c_lflag = FLUSHO;
    raw.c_cc[VTIME] = 2;
    raw.c_cc[VMIN] = 16;
    cfsetispeed(&raw, speed);
    cfsetospeed(&raw, speed);
    if (tcsetattr(fd, TCSANOW, &raw) != 0) {
        if (!quiet) console_print("ioctl: %s: %s\n", device, std::strerror(errno));
        tcsetattr(fd, TCSANOW, &saved_line_settings);
        close(fd);
        return -1;
    }
    return fd;
}

void use_line(int fd) {
    line_fd = fd;
    in_next = in_end = 0;
    out_count = 0;
    gone = false;
    stop_on_exit(restore_line);
}

// Sleeps until the line is ready in one direction. Signals end the program;
// keys are handed to the terminal. The signal pipe is always watched: a
// signal that came after the last look but before poll would otherwise
// leave poll asleep for good.
void wait_for_line(short events) {
    console_flush();  // what the target said so far shows while we wait
    for (;;) {
        pollfd fds[3] = {{line_fd, events, 0}, {stop_signal_fd(), POLLIN, 0}, {keyboard_fd, POLLIN, 0}};
        const int n = poll(fds, 3, -1);
        stop_if_signalled();
        if (n < 0 && errno != EINTR) return;
        if (n <= 0) continue;
        if (fds[2].revents && keyboard_ready) keyboard_ready();
        if (fds[0].revents) return;
    }
}

// One read of whatever is there; false when nothing was (or the line is
// gone).
bool read_some() {
    const ssize_t n = read(line_fd, in_buffer.data(), in_buffer.size());
    if (n > 0) {
        in_next = 0;
        in_end = static_cast<size_t>(n);
        return true;
    }
    if (n == 0 || !worth_retrying(errno)) line_lost("read", static_cast<int>(n), errno);
    return false;
}

}  // namespace

bool port_speed_code(long baud, unsigned* code) {
    for (const auto& s : speed_codes) {
        if (s.baud == baud) {
            *code = s.code;
            return true;
        }
    }
    return false;
}

int port_open(const char* device, long baud) {
    unsigned speed;
    if (!port_speed_code(baud, &speed)) {
        console_print("%ld Baud not supported\n", baud);
        return 0;
    }
    line_device = device;
    line_speed = speed;
    const int fd = open_line(device, speed, false);
    if (fd < 0) return 0;
    use_line(fd);
    return 1;
}

void port_wait_when_gone(bool wait) { wait_when_gone = wait; }

bool port_gone() { return gone; }

bool port_reopen() {
    const int fd = open_line(line_device.c_str(), line_speed, true);
    if (fd < 0) return false;
    use_line(fd);
    console_print("%s back\n", line_device.c_str());
    session_log_note("line back");
    return true;
}

void port_close() {
    if (line_fd < 0) return;
    port_flush();
    stop_forget(restore_line);
    restore_line();
}

int port_buffered() { return static_cast<int>(in_end - in_next); }

void port_fill() {
    if (in_next == in_end && !gone) read_some();
}

void port_flush() {
    while (out_count > 0 && !gone) {
        const int error = write_queued();
        if (error) line_lost("write", -1, error);
        if (out_count > 0) wait_for_line(POLLOUT);
    }
}

void port_watch_keyboard(int fd, void (*on_key_ready)()) {
    keyboard_fd = fd;
    keyboard_ready = on_key_ready;
}

int link_get_raw() {
    while (in_next == in_end) {
        if (gone) return BYTE_ETX;
        port_flush();  // the target may be waiting for what we queued
        if (!read_some() && !gone) wait_for_line(POLLIN);
    }
    return in_buffer[in_next++];
}

void link_put_raw(int byte) {
    if (gone) return;
    if (out_count == out_queue.size()) port_flush();
    out_queue[out_count++] = static_cast<unsigned char>(byte);
}

}  // namespace tolvane
