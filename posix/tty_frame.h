// The termios a tty line is set to: raw, at the speed, in the frame and
// with the flow control of the settings; and, read back after the driver
// took them, what of the frame and the flow control it did not.
#pragma once

#include <termios.h>

#include <string>

#include "base/settings.h"

namespace tolvane {

// The raw line the settings ask for. A speed without a speed code keeps
// saved's until it is set by number: has_code says which.
struct termios tty_raw_settings(const struct termios& saved, const line_settings& line, bool* has_code);

// The frame and the flow control of line set in t, the rest of t kept.
void tty_set_frame(struct termios* t, const line_settings& line);

// What the driver left out of asked, as got shows it: "7 data bits",
// "mark parity", "2 stop bits", "hard flow control"; empty when it took
// the whole frame and flow control.
std::string tty_frame_refused(const line_settings& line, const struct termios& asked, const struct termios& got);

}  // namespace tolvane
