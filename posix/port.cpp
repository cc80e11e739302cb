#include "posix/port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "base/console.h"
#include "base/keys.h"
#include "base/session_log.h"
#include "base/time_limit.h"
#include "link/link.h"
#include "posix/console.h"
#include "posix/stop.h"

namespace tolvane {

int line_fd = -1;

namespace {

using clock = std::chrono::steady_clock;

// One read takes whatever a fast USB line has delivered; one write takes a
// whole reply to a 4096-byte read, escapes and all.
constexpr size_t LINE_BUFFER_SIZE = 16384;
// On a way out a line that takes nothing for this long gets no more.
constexpr int LAST_OUTPUT_PATIENCE_MS = 500;
// How often the driver's output queue is looked at on the way out.
constexpr int DRAIN_LOOK_MS = 5;

struct termios saved_line_settings;
std::string line_device;

std::array<unsigned char, LINE_BUFFER_SIZE> in_buffer;
size_t in_next = 0;
size_t in_end = 0;
std::array<unsigned char, LINE_BUFFER_SIZE> out_queue;
size_t out_count = 0;

bool keyboard_watched = false;
bool taking_last_output = false;
// Set after Ctrl-Q: the last output has until then, not the usual patience.
bool leave_by_deadline = false;
clock::time_point leave_deadline;

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

// Ctrl-Q came or the --timeout passed, and the last output is not yet
// being let out: a request in progress is cut off.
bool run_ending() { return (quit_requested() || time_limit_passed()) && !taking_last_output; }

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

// Milliseconds to wait on the way out: up to the deadline after Ctrl-Q,
// else the patience for a line that takes nothing.
int leaving_wait_ms() {
    if (!leave_by_deadline) return LAST_OUTPUT_PATIENCE_MS;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(leave_deadline - clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// On the ways out: sends what the line still takes, but never hangs on a
// line that takes nothing.
void flush_before_leaving() {
    while (out_count > 0 && write_queued() == 0 && out_count > 0) {
        pollfd p{line_fd, POLLOUT, 0};
        const int ms = leaving_wait_ms();
        const int n = ms > 0 ? poll(&p, 1, ms) : 0;
        if (n == 0 || (n < 0 && errno != EINTR)) break;
    }
    out_count = 0;
}

// Bytes the driver still holds for the line; 0 where it cannot tell.
int driver_pending() {
    int pending = 0;
    return ioctl(line_fd, TIOCOUTQ, &pending) == 0 ? pending : 0;
}

// The driver's queue drained, within the same patience: true when it did.
bool driver_drained() {
    int pending = driver_pending();
    auto last_progress = clock::now();
    while (pending > 0) {
        const int ms = leaving_wait_ms();
        if (ms == 0) return false;
        if (!leave_by_deadline && clock::now() - last_progress > std::chrono::milliseconds(LAST_OUTPUT_PATIENCE_MS))
            return false;
        poll(nullptr, 0, DRAIN_LOOK_MS);
        const int now_pending = driver_pending();
        if (now_pending < pending) last_progress = clock::now();
        pending = now_pending;
    }
    return true;
}

// Every way out: the queue sent, then the old settings once the output has
// left at the line's speed. A line that takes nothing (a board halted at a
// breakpoint) gets its output dropped, so neither the settings nor the
// close wait for it.
void restore_line() {
    if (line_fd < 0) return;
    flush_before_leaving();
    const bool drained = driver_drained();
    if (!drained) tcflush(line_fd, TCOFLUSH);
    while (tcsetattr(line_fd, drained ? TCSADRAIN : TCSANOW, &saved_line_settings) != 0 && errno == EINTR) {
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

// Sleeps until the line is ready for events (POLLOUT too while output
// waits), or until Ctrl-Q. Signals end the program; keys are read into the
// key queue. The signal pipe is always watched: a signal that came after
// the last look but before poll would otherwise leave poll asleep for good.
void wait_for_line(short events) {
    console_flush();  // what the target said so far shows while we wait
    for (;;) {
        if (run_ending()) return;
        const int keyboard = keyboard_watched && keys_room() > 0 ? console_keyboard_fd() : -1;
        pollfd fds[3] = {{line_fd, events, 0}, {stop_signal_fd(), POLLIN, 0}, {keyboard, POLLIN, 0}};
        const int n = poll(fds, 3, time_limit_wait_ms(-1));
        stop_if_signalled();
        if (n < 0 && errno != EINTR) return;
        if (n <= 0) continue;
        if (fds[2].revents) console_read_keys();
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

void port_send() {
    if (out_count == 0 || gone) return;
    const int error = write_queued();
    if (error) line_lost("write", -1, error);
}

size_t port_pending() { return out_count; }

size_t port_room() { return gone ? out_queue.size() : out_queue.size() - out_count; }

void port_flush() {
    while (out_count > 0 && !gone && !port_request_cut()) {
        port_send();
        if (out_count > 0) wait_for_line(POLLOUT);
    }
}

bool port_wait_room(int ms) {
    if (gone) return true;
    port_send();
    if (out_count < out_queue.size()) return true;
    pollfd p{line_fd, POLLOUT, 0};
    if (poll(&p, 1, ms) <= 0) return false;
    port_send();
    return out_count < out_queue.size();
}

void port_watch_keyboard(bool watch) { keyboard_watched = watch; }

bool port_request_cut() { return gone || run_ending(); }

void port_take_last_output() { taking_last_output = true; }

void port_leave_within(int ms) {
    leave_by_deadline = true;
    leave_deadline = clock::now() + std::chrono::milliseconds(ms);
}

int link_get_raw() {
    while (in_next == in_end) {
        if (port_request_cut()) return BYTE_ETX;
        port_send();  // the target may be waiting for what we queued
        if (!read_some() && !gone) wait_for_line(static_cast<short>(POLLIN | (out_count > 0 ? POLLOUT : 0)));
    }
    return in_buffer[in_next++];
}

void link_put_raw(int byte) {
    if (port_request_cut()) return;
    if (out_count == out_queue.size()) port_flush();
    if (out_count == out_queue.size()) return;  // Ctrl-Q came while the line took nothing
    out_queue[out_count++] = static_cast<unsigned char>(byte);
}

}  // namespace tolvane
