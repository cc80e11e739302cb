// DTR and RTS on a COM port: the levels held through the DCB and set at
// once with EscapeCommFunction; the reset pulse with EscapeCommFunction.
#pragma once

#include <windows.h>

#include "base/settings.h"

namespace tolvane {

// The DCB's DTR and RTS control for the levels asked for (--dtr, --rts);
// what com_settings gives (both on) for the others.
void modem_dcb_levels(DCB* dcb, const line_settings& settings);

// Right after the port is set up: the levels asked for and, at the first
// open of the run only, the reset pulse (--pulse).
void com_set_modem_lines(HANDLE handle, const line_settings& settings, bool first);
// One line to a level now; false where the driver refuses it.
bool com_set_modem_line(HANDLE handle, modem_line line, bool on);

}  // namespace tolvane
