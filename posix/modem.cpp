#include "posix/modem.h"

#include <poll.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "base/deadline.h"
#include "base/modem.h"

namespace tolvane {

namespace {

int call_ioctl(int fd, unsigned long request, int* bits) { return ioctl(fd, request, bits); }

// A signal does not cut the pulse short; it is seen at the next wait.
void sleep_ms(int ms) {
    const deadline end = deadline::in(ms);
    while (!end.passed()) poll(nullptr, 0, end.left_ms());
}

// A pty answers ENOTTY, some drivers EINVAL: no modem lines. Other errors
// (a device that went away) show at the next read or write.
bool set_line(void* fd, modem_line line, bool on) {
    int bits = line == modem_line::dtr ? TIOCM_DTR : TIOCM_RTS;
    while (modem_ioctl(*static_cast<int*>(fd), on ? TIOCMBIS : TIOCMBIC, &bits) != 0) {
        if (errno != EINTR) return !(errno == ENOTTY || errno == EINVAL);
    }
    return true;
}

}  // namespace

modem_ioctl_call modem_ioctl = call_ioctl;
void (*modem_sleep)(int ms) = sleep_ms;

void port_set_modem_lines(int fd, const line_settings& settings, bool with_pulse) {
    modem_apply(settings, with_pulse, set_line, &fd, modem_sleep);
}

}  // namespace tolvane
