// A tty device as the line: raw, in the frame and with the flow control
// asked for, at any speed the driver takes; its settings saved at the open
// and put back on every way out.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/text_format.h"
#include "posix/fd_transport.h"
#include "posix/modem.h"
#include "posix/speed.h"
#include "posix/tty_frame.h"

namespace tolvane {

namespace {

class tty_transport : public fd_transport {
public:
    struct termios saved;
    long baud_in_force = 0;

    long read(unsigned char* buffer, size_t size) override {
        const ssize_t n = ::read(fd, buffer, size);
        if (n > 0) return n;
        if (n < 0 && worth_retrying(errno)) return 0;
        return failed(n, errno);
    }

    long write(const unsigned char* bytes, size_t count) override {
        const ssize_t n = ::write(fd, bytes, count);
        if (n >= 0) return n;
        if (worth_retrying(errno)) return 0;
        return failed(n, errno);
    }

    size_t unsent() override { return queued_in_kernel(); }

    // Drained: the old settings once the output has left at the line's
    // speed; else the output still held is dropped, so that neither the
    // settings nor the close wait for it.
    bool close(bool drained, int) override {
        if (!drained) tcflush(fd, TCOFLUSH);
        while (tcsetattr(fd, drained ? TCSADRAIN : TCSANOW, &saved) != 0 && errno == EINTR) {
        }
        ::close(fd);
        return true;
    }

    bool let_go() override {
        tcsetattr(fd, TCSANOW, &saved);  // if the device is still there to take them
        ::close(fd);
        return true;
    }

    long speed() const override { return baud_in_force; }

    // As at the open: a standard rate by its code, any other by number,
    // and what the driver made of it read back. A rate it will not make
    // leaves the old one in force.
    bool set_speed(long baud) override {
        struct termios now;
        unsigned code = 0;
        if (baud < SPEED_MIN || tcgetattr(fd, &now) != 0) return false;
        const struct termios before = now;
        bool set = false;
        if (speed_code(baud, &code)) {
            cfsetispeed(&now, static_cast<speed_t>(code));
            cfsetospeed(&now, static_cast<speed_t>(code));
            set = tcsetattr(fd, TCSADRAIN, &now) == 0;
        } else {
            set = speed_set_other(fd, baud);
        }
        const long in_force = set ? speed_in_force(fd) : 0;
        if (!speed_matches(baud, in_force)) {
            tcsetattr(fd, TCSANOW, &before);
            return false;
        }
        baud_in_force = in_force;
        return true;
    }

    // At once, as at the open, the driver's answer read back; the old frame stays
    // when it did not take the whole of the new one.
    bool set_frame(const line_settings& frame) override {
        struct termios now;
        struct termios got;
        if (tcgetattr(fd, &now) != 0) return false;
        const struct termios before = now;
        tty_set_frame(&now, frame);
        if (tcsetattr(fd, TCSANOW, &now) == 0 && tcgetattr(fd, &got) == 0 && tty_frame_refused(frame, now, got).empty())
            return true;
        tcsetattr(fd, TCSANOW, &before);
        return false;
    }

    void purge(bool input, bool output) override {
        if (input || output) tcflush(fd, input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH);
    }

    // TIOCSBRK rather than tcsendbreak: the caller times the break, so a
    // line held back by flow control cannot hold the program in it.
    bool set_break(bool on) override { return ioctl(fd, on ? TIOCSBRK : TIOCCBRK) == 0; }
    bool set_modem_line(modem_line line, bool on) override { return port_set_modem_line(fd, line, on); }
    void read_modem_lines(modem_state* state) override {
        if (!port_read_modem_lines(fd, &state->on)) return;
        state->known = MODEM_DTR | MODEM_RTS | MODEM_CTS | MODEM_DSR | MODEM_CD | MODEM_RI;
    }
};

bool device_absent(int error) { return error == ENOENT || error == ENODEV || error == ENXIO || error == EIO; }

bool access_denied(int error) { return error == EACCES || error == EPERM; }

line_transport* fail(open_outcome* outcome, open_result result, const std::string& message) {
    outcome->result = result;
    outcome->message = message;
    return nullptr;
}

// Puts the saved settings back on a line that is given up during its set-up.
line_transport* give_up(tty_transport* tty, open_outcome* outcome, const std::string& message) {
    tcsetattr(tty->fd, TCSANOW, &tty->saved);
    ::close(tty->fd);
    delete tty;
    return fail(outcome, open_result::failed, message);
}

// The device is named by a pty's own node (/dev/pts/N), not by a link to
// it: Unix98 pty slaves have majors 136 to 143.
bool pty_named_by_number(const char* device, int fd) {
    struct stat named;
    struct stat opened;
    if (lstat(device, &named) != 0 || S_ISLNK(named.st_mode) || fstat(fd, &opened) != 0) return false;
    return S_ISCHR(opened.st_mode) && major(opened.st_rdev) >= 136 && major(opened.st_rdev) <= 143;
}

}  // namespace

line_transport* device_transport_open(const line_settings& settings, bool first, open_outcome* outcome) {
    const char* device = settings.device.c_str();
    const long baud = settings.baud;
    if (baud < SPEED_MIN) return fail(outcome, open_result::failed, text_printf("%ld Baud not supported\n", baud));
    // O_NONBLOCK: a modem line without carrier cannot hang the open, and
    // every wait happens in poll, where a signal is seen at once.
    // O_NOCTTY: the line never becomes our controlling terminal.
    const int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        const open_result result = device_absent(error)   ? open_result::absent
                                   : access_denied(error) ? open_result::denied
                                                          : open_result::failed;
        return fail(outcome, result, text_printf("open: %s: %s\n", device, std::strerror(error)));
    }
    // The lock picocom and tio take too: two programs on one line would
    // split its bytes between them.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const std::string why = errno == EWOULDBLOCK ? "line in use by another program" : std::strerror(errno);
        ::close(fd);
        return fail(outcome, open_result::failed, text_printf("open: %s: %s\n", device, why.c_str()));
    }
    tty_transport* tty = new tty_transport;
    tty->fd = fd;
    tty->comes_back = !pty_named_by_number(device, fd);
    if (tcgetattr(fd, &tty->saved) != 0) {
        const int error = errno;
        ::close(fd);
        delete tty;
        return fail(outcome, open_result::failed, text_printf("ioctl: %s: %s\n", device, std::strerror(error)));
    }
    bool has_code;
    const struct termios raw = tty_raw_settings(tty->saved, settings, &has_code);
    if (tcsetattr(fd, TCSANOW, &raw) != 0)
        return give_up(tty, outcome, text_printf("ioctl: %s: %s\n", device, std::strerror(errno)));
    struct termios got;
    const std::string refused = tcgetattr(fd, &got) != 0 ? std::strerror(errno) : tty_frame_refused(settings, raw, got);
    if (!refused.empty()) return give_up(tty, outcome, text_printf("%s: %s not supported\n", device, refused.c_str()));
    // Drivers take what they can and say so only in what they read back.
    const bool speed_set = has_code || speed_set_other(fd, baud);
    tty->baud_in_force = speed_set ? speed_in_force(fd) : 0;
    if (!speed_matches(baud, tty->baud_in_force))
        return give_up(tty, outcome, text_printf("%ld Baud not supported\n", baud));
    port_set_modem_lines(fd, settings, first);
    outcome->result = open_result::opened;
    return tty;
}

}  // namespace tolvane
