// The process's one line, open from start-up to the end.
#pragma once

#include "win32/com_port.h"

namespace tolvane {

extern com_port* line_port;

// Set while the terminal runs: a request's waits then read keys.
extern bool watch_keys_in_requests;

// -w while the terminal runs: a port that went away is let go (it says so)
// and looked for again. True while it is gone.
extern bool wait_when_gone;
bool line_let_go_if_gone();
// Opens the port again as at start, quietly (nothing is sent); true when
// it is back.
bool line_reopen();

}  // namespace tolvane
