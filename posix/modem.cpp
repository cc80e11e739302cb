#include "posix/modem.h"

#include <poll.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <chrono>

#include "base/modem.h"

namespace tolvane {

namespace {

int call_ioctl(int fd, unsigned long request, int* bits) { return ioctl(fd, request, bits); }

// A signal does not cut the pulse short; it is seen at the next wait.
void sleep_ms(int ms) {
    using clock = std::chrono::steady_clock;
    const auto end = clock::now() + std::chrono::milliseconds(ms);
    for (auto now = clock::now(); now < end; now = clock::now())
        poll(nullptr, 0, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count()) + 1);
}

int modem_fd = -1;

// A pty answers ENOTTY, some drivers EINVAL: no modem lines. Other errors
// (a device that went away) show at the next read or write.
bool set_line(modem_line line, bool on) {
    int bits = line == modem_line::dtr ? TIOCM_DTR : TIOCM_RTS;
    while (modem_ioctl(modem_fd, on ? TIOCMBIS : TIOCMBIC, &bits) != 0) {
        if (errno != EINTR) return !(errno == ENOTTY || errno == EINVAL);
    }
    return true;
}

}  // namespace

modem_ioctl_call modem_ioctl = call_ioctl;
void (*modem_sleep)(int ms) = sleep_ms;

void port_set_modem_lines(int fd, const char* device, bool with_pulse) {
    modem_fd = fd;
    modem_apply(device, with_pulse, set_line, modem_sleep);
}

}  // namespace tolvane
