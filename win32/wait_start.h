// -w at start: a COM port that does not exist yet (a USB adapter not
// plugged in) is waited for.
#pragma once

#include "win32/com_port.h"

namespace tolvane {

// Opens COM<number> as com_open does; while the port does not exist, says
// "waiting for DEVICE (Ctrl-Q ends)" and looks for it a few times a
// second. Ctrl-Q ends the program (status 0). Any other failure is
// reported as com_open reports it; null then.
com_port* com_open_waiting(const char* device, int number, long baud, int in_queue, int out_queue);

}  // namespace tolvane
