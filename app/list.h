// --list: the serial lines of this machine (base/serial_lines.h), each with
// what the system knows about it.
#pragma once

namespace tolvane {

// Prints the lines, one each, or "no serial lines found". Returns the exit
// status: 0 either way.
int list_serial_lines();

}  // namespace tolvane
