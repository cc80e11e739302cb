// The COM port at start: opened at once, or with -w waited for while it
// is not there (a board not plugged in yet), Ctrl-Q ending the wait.
#pragma once

#include "win32/com_port.h"

namespace tolvane {

// Opens COM<number> as com_open does; with -w a port that does not exist
// is looked for a few times a second ("waiting for DEVICE (Ctrl-Q
// ends)"). Null after printing why not.
com_port* wait_for_line_at_start(const char* device, int number, long baud, int in_queue, int out_queue);

}  // namespace tolvane
