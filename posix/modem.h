// DTR and RTS on a tty: raised with TIOCMBIS, dropped with TIOCMBIC.
#pragma once

#include "base/settings.h"

namespace tolvane {

// The calls that reach the driver; tests put their own in.
using modem_ioctl_call = int (*)(int fd, unsigned long request, int* bits);
extern modem_ioctl_call modem_ioctl;
extern void (*modem_sleep)(int ms);

// The levels asked for on fd and, with_pulse, the reset pulse (see
// base/modem.h). Other lines are left as the driver has them.
void port_set_modem_lines(int fd, const line_settings& settings, bool with_pulse);
// One line to a level now; false where the driver has no modem lines.
bool port_set_modem_line(int fd, modem_line line, bool on);
// All six lines as the driver has them (TIOCMGET), as MODEM_* bits; false
// where it has none.
bool port_read_modem_lines(int fd, unsigned* on);

}  // namespace tolvane
