// --list: the serial lines of this machine, each with what the system
// knows about it. The platform part finds them (list-posix.cpp,
// list-win32.cpp); the shared part prints them.
#pragma once

#include <string>
#include <vector>

namespace tolvane {

struct serial_line {
    std::string name;   // what -c takes
    std::string about;  // the device behind it, its driver and maker; may be empty
};

// The lines found, in the order they are shown.
std::vector<serial_line> find_serial_lines();

// Prints the lines, one each, or "no serial lines found". Returns the exit
// status: 0 either way.
int list_serial_lines();

// Names in the order people count them: ttyS2 before ttyS10, COM2 before
// COM10.
bool natural_less(const std::string& a, const std::string& b);

}  // namespace tolvane
