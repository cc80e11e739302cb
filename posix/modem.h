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

}  // namespace tolvane
