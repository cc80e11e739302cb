#include "posix/modem.h"

#include <poll.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "base/deadline.h"
#include "base/line_transport.h"
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

bool port_set_modem_line(int fd, modem_line line, bool on) { return set_line(&fd, line, on); }

bool port_read_modem_lines(int fd, unsigned* on) {
    int bits = 0;
    while (modem_ioctl(fd, TIOCMGET, &bits) != 0) {
        if (errno != EINTR) return false;
    }
    const struct {
        int tiocm;
        unsigned modem;
    } lines[] = {{TIOCM_DTR, MODEM_DTR}, {TIOCM_RTS, MODEM_RTS}, {TIOCM_CTS, MODEM_CTS},
                 {TIOCM_DSR, MODEM_DSR}, {TIOCM_CD, MODEM_CD},   {TIOCM_RI, MODEM_RI}};
    *on = 0;
    for (const auto& l : lines)
        if (bits & l.tiocm) *on |= l.modem;
    return true;
}

}  // namespace tolvane
