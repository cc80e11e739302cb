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
#include "posix/modem.h"
#include "posix/net.h"
#include "posix/speed.h"
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

long asked_baud = 115200;   // what a reconnect asks for again
long baud_in_force = 115200;
// A network line (posix/net.h): the same buffers and waits, its bytes
// through net_read, net_encode and net_write.
bool line_is_net = false;
bool wait_when_gone = false;
bool gone = false;

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
        const ssize_t n = line_is_net ? net_write(line_fd, out_queue.data() + done, out_count - done)
                                      : write(line_fd, out_queue.data() + done, out_count - done);
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
    if (line_is_net) {
        net_close(line_fd, leaving_wait_ms());
        line_fd = -1;
        return;
    }
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
    return result == 0 || error == EIO || error == ENXIO || error == ENODEV || error == EPIPE || error == ECONNRESET ||
           error == ECONNABORTED || error == ETIMEDOUT || error == EHOSTUNREACH || error == ENETUNREACH;
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
    console_start_line();
    stop_restore();  // the message then reads on a cooked console
    say_line_lost(operation, result, error);
    stop_now(-1);
}

// What open_line says about a device that cannot be used.
enum class report { all, all_but_open, none };

// Puts the saved settings back on a line that is given up during its set-up.
void give_up(int fd) {
    tcsetattr(fd, TCSANOW, &saved_line_settings);
    close(fd);
}

// Opens the device and makes it a raw 8N1 line at baud, saving its
// settings; -1 when it cannot, with *open_error the error of the open
// itself (0 when the open went through and a later step failed).
int open_line(const char* device, long baud, report said, int* open_error) {
    *open_error = 0;
    const bool quiet = said == report::none;
    // O_NONBLOCK: a modem line without carrier cannot hang the open, and
    // every wait happens in poll, where a signal is seen at once.
    // O_NOCTTY: the line never becomes our controlling terminal.
    const int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *open_error = errno;
        if (said == report::all) console_print("open: %s: %s\n", device, std::strerror(errno));
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
    // A rate without a code keeps the line's speed until it is set by number.
    unsigned code;
    const bool has_code = speed_code(baud, &code);
    cfsetispeed(&raw, has_code ? code : cfgetispeed(&saved_line_settings));
    cfsetospeed(&raw, has_code ? code : cfgetospeed(&saved_line_settings));
    if (tcsetattr(fd, TCSANOW, &raw) != 0) {
        if (!quiet) console_print("ioctl: %s: %s\n", device, std::strerror(errno));
        give_up(fd);
        return -1;
    }
    // Drivers take what they can and say so only in what they read back.
    const bool speed_set = has_code || speed_set_other(fd, baud);
    const long in_force = speed_set ? speed_in_force(fd) : 0;
    if (!speed_matches(baud, in_force)) {
        if (!quiet) console_print("%ld Baud not supported\n", baud);
        give_up(fd);
        return -1;
    }
    baud_in_force = in_force;
    return fd;
}

void use_line(int fd, bool net) {
    line_is_net = net;
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
//
// fd is the line's, or a network line's socket while it connects: then the
// wait ends after ms too (-1: no limit). True when fd is ready.
bool wait_for(int fd, short events, int ms) {
    console_flush();  // what the target said so far shows while we wait
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (run_ending()) return false;
        int timeout = time_limit_wait_ms(-1);
        if (ms >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
            if (left <= 0) return false;
            if (timeout < 0 || left < timeout) timeout = static_cast<int>(left);
        }
        const int keyboard = keyboard_watched ? console_keyboard_fd() : -1;
        pollfd fds[3] = {{fd, events, 0}, {stop_signal_fd(), POLLIN, 0}, {keyboard, POLLIN, 0}};
        const int n = poll(fds, 3, timeout);
        stop_if_signalled();
        if (n < 0 && errno != EINTR) return false;
        if (n <= 0) continue;
        if (fds[2].revents) console_read_keys();
        if (fds[0].revents) return true;
    }
}

void wait_for_line(short events) { wait_for(line_fd, events, -1); }

// One read of whatever is there; false when nothing was (or the line is
// gone).
bool read_some() {
    const ssize_t n = line_is_net ? net_read(line_fd, in_buffer.data(), in_buffer.size())
                                  : read(line_fd, in_buffer.data(), in_buffer.size());
    if (line_is_net) out_count += net_take_output(out_queue.data() + out_count, out_queue.size() - out_count);
    if (n > 0) {
        in_next = 0;
        in_end = static_cast<size_t>(n);
        ++console_line_reads;
        return true;
    }
    if (n == 0 || !worth_retrying(errno)) line_lost("read", static_cast<int>(n), errno);
    return false;
}

// A network line in place of a device (posix/net.h).
int open_net_line(const char* url, long baud) {
    line_device = url;
    asked_baud = baud;
    baud_in_force = baud;
    const int fd = net_open(url, baud, false, wait_for);
    if (fd < 0) return 0;
    use_line(fd, true);
    return 1;
}

}  // namespace

int port_open(const char* device, long baud) {
    int open_error;
    return port_open_if_there(device, baud, &open_error, report_open_failure::always) == open_outcome::opened;
}

open_outcome port_open_if_there(const char* device, long baud, int* open_error, report_open_failure when) {
    *open_error = 0;
    if (net_is_url(device)) return open_net_line(device, baud) ? open_outcome::opened : open_outcome::refused;
    if (baud < SPEED_MIN) {
        console_print("%ld Baud not supported\n", baud);
        return open_outcome::refused;
    }
    line_device = device;
    asked_baud = baud;
    const int fd = open_line(device, baud, when == report_open_failure::always ? report::all : report::all_but_open,
                             open_error);
    if (fd < 0) return *open_error != 0 ? open_outcome::not_opened : open_outcome::refused;
    use_line(fd, false);
    port_set_modem_lines(fd, device, true);
    return open_outcome::opened;
}

long port_speed() { return baud_in_force; }

void port_wait_when_gone(bool wait) { wait_when_gone = wait; }

bool port_gone() { return gone; }

bool port_reopen() {
    int open_error;
    const int fd = line_is_net ? net_open(line_device.c_str(), asked_baud, true, wait_for)
                               : open_line(line_device.c_str(), asked_baud, report::none, &open_error);
    if (fd < 0) return false;
    use_line(fd, line_is_net);
    if (!line_is_net) port_set_modem_lines(fd, line_device.c_str(), false);
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

int port_buffered() { return static_cast<int>(in_end - in_next + (line_is_net ? net_pending_input() : 0)); }

void port_fill() {
    if (in_next == in_end && !gone) read_some();
}

void port_send() {
    if (out_count == 0 || gone) return;
    const int error = write_queued();
    if (error) line_lost("write", -1, error);
}

size_t port_pending() { return out_count; }

size_t port_room() {
    const size_t room = gone ? out_queue.size() : out_queue.size() - out_count;
    return line_is_net ? room / 2 : room;  // a byte may go doubled
}

void port_flush() {
    while (out_count > 0 && !gone && !port_request_cut()) {
        port_send();
        if (out_count > 0) wait_for_line(POLLOUT);
    }
}

bool port_wait_room(int ms) {
    if (gone) return true;
    const size_t before = out_count;
    port_send();
    if (out_count < before || out_count == 0) return true;
    pollfd p{line_fd, POLLOUT, 0};
    if (ms <= 0 || poll(&p, 1, ms) <= 0) return false;
    port_send();
    return out_count < before;
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
    unsigned char wire[2] = {static_cast<unsigned char>(byte)};
    const size_t size = line_is_net ? net_encode(byte, wire) : 1;
    if (out_count + size > out_queue.size()) port_flush();
    if (out_count + size > out_queue.size()) return;  // Ctrl-Q came while the line took nothing
    for (size_t i = 0; i < size; ++i) out_queue[out_count++] = wire[i];
}

}  // namespace tolvane
