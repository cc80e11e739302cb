// Line speeds: any whole number of Baud from 300 up that the line's driver
// takes. The standard rates have speed codes; on Linux every other rate is
// set by number (termios2).
#pragma once

namespace tolvane {

constexpr long SPEED_MIN = 300;

// The termios speed code of a standard rate; false when baud has none.
bool speed_code(long baud, unsigned* code);

// Sets a rate that has no speed code, the line's other settings kept.
// False, with errno set, when the system or the driver refuses it.
bool speed_set_other(int fd, long baud);

// The output speed in force on the line, in Baud; 0 when it cannot be read.
long speed_in_force(int fd);

// Whether the rate a driver set counts as the one asked for: drivers that
// cannot make a rate exactly set the nearest they can, and a UART takes a
// few percent.
bool speed_matches(long asked, long in_force);

}  // namespace tolvane
