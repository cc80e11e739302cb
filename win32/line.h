// The process's one line, open from start-up to the end, and the console
// state the terminal changes.
#pragma once

#include "win32/com_port.h"

namespace tolvane {

extern com_port* line_port;

// Set while the terminal runs: a request's waits then look at the keyboard.
extern bool watch_keys_in_requests;

// Puts the console's input mode back as the terminal found it.
void console_restore_input();
// The next key typed, or -1 when there is none.
int console_key();

}  // namespace tolvane
