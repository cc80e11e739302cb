// The modem lines when the line opens: the levels asked for (--dtr,
// --rts), then the reset pulse (--pulse). The steps are the same in every
// transport; each sets a line in its own way.
#pragma once

#include "base/settings.h"

namespace tolvane {

// Sets one line of the transport at context; false when it has no modem
// lines to set.
using modem_set_call = bool (*)(void* context, modem_line line, bool on);
// Sleeps ms milliseconds.
using modem_wait_call = void (*)(int ms);

// Sets the levels asked for and, with_pulse, gives the reset pulse: the
// line on for pulse_ms, then off unless its level is held on. A line
// without modem lines gets "DEVICE: no modem lines", once in a run, and
// the program goes on. Nothing at all is set when nothing was asked for.
void modem_apply(const line_settings& settings, bool with_pulse, modem_set_call set, void* context,
                 modem_wait_call wait);

}  // namespace tolvane
