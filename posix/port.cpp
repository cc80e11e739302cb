#include "posix/port.h"

#include <fcntl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/settings.h"
#include "link/link.h"
#include "posix/stop.h"

namespace tolvane {

int line_fd = -1;

namespace {

struct termios saved_line_settings;
char line_device[DEVICE_NAME_SIZE];

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

// Used on the ways out that cannot wait for output to drain.
void restore_line_now() {
    if (line_fd < 0) return;
    tcsetattr(line_fd, TCSANOW, &saved_line_settings);
    close(line_fd);
    line_fd = -1;
}

[[noreturn]] void line_lost(const char* operation, int result, int error) {
    stop_restore();  // the message then reads on a cooked console
    if (result == 0)
        std::printf("%s: %s: line closed\n", operation, line_device);
    else
        std::printf("%s: %s: %s\n", operation, line_device, std::strerror(error));
    stop_now(-1);
}

// Sleeps until the line is ready in one direction; a signal ends the program.
// The signal pipe is always in the read set: a signal that came after the last
// look but before select would otherwise leave select asleep for good.
void wait_for_line(bool for_writing) {
    for (;;) {
        fd_set read_set, write_set;
        FD_ZERO(&read_set);
        FD_ZERO(&write_set);
        FD_SET(line_fd, for_writing ? &write_set : &read_set);
        int nfds = line_fd;
        const int stop_fd = stop_signal_fd();
        if (stop_fd >= 0) {
            FD_SET(stop_fd, &read_set);
            if (stop_fd > nfds) nfds = stop_fd;
        }
        const int n = select(nfds + 1, &read_set, &write_set, nullptr, nullptr);
        stop_if_signalled();
        if (n > 0 && FD_ISSET(line_fd, for_writing ? &write_set : &read_set)) return;
        if (n < 0 && errno != EINTR) return;
    }
}

bool worth_retrying(int error) { return error == EINTR || error == EAGAIN || error == EWOULDBLOCK; }

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
        std::printf("%ld Baud not supported\n", baud);
        return 0;
    }
    std::snprintf(line_device, sizeof line_device, "%s", device);

    // O_NONBLOCK: a modem line without carrier cannot hang the open, and
    // every wait happens in select, where a signal is seen at once.
    // O_NOCTTY: the line never becomes our controlling terminal.
    const int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::printf("open: %s: %s\n", device, std::strerror(errno));
        return 0;
    }

    if (tcgetattr(fd, &saved_line_settings) != 0) {
        std::printf("ioctl: %s: %s\n", device, std::strerror(errno));
        close(fd);
        return 0;
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
        std::printf("ioctl: %s: %s\n", device, std::strerror(errno));
        tcsetattr(fd, TCSANOW, &saved_line_settings);
        close(fd);
        return 0;
    }
    line_fd = fd;
    stop_on_exit(restore_line_now);
    return 1;
}

void port_close() {
    if (line_fd < 0) return;
    stop_forget(restore_line_now);
    // Let queued bytes leave at our speed before the old settings return;
    // a signal during the wait must not leave the line unrestored.
    while (tcsetattr(line_fd, TCSADRAIN, &saved_line_settings) != 0 && errno == EINTR) {
    }
    close(line_fd);
    line_fd = -1;
}

int link_get_raw() {
    for (;;) {
        unsigned char b;
        const ssize_t n = read(line_fd, &b, 1);
        if (n == 1) return b;
        if (n == 0 || !worth_retrying(errno)) line_lost("read", static_cast<int>(n), errno);
        wait_for_line(false);
    }
}

void link_put_raw(int byte) {
    for (;;) {
        const unsigned char b = static_cast<unsigned char>(byte);
        const ssize_t n = write(line_fd, &b, 1);
        if (n == 1) return;
        if (n == 0 || !worth_retrying(errno)) line_lost("write", static_cast<int>(n), errno);
        wait_for_line(true);
    }
}

}  // namespace tolvane
