// A program the line is lent to (--lend, Ctrl-T f), one file per platform
// (posix/child.cpp, win32/child.cpp): started with TOLVANE_DEVICE set,
// and looked at without waiting until it ended.
#pragma once

#include <string>
#include <vector>

namespace tolvane {

struct child;

// argv[0] found on the PATH; null with why.
child* child_start(const std::vector<std::string>& argv, const std::string& device, std::string* why);
// A command line for the system's shell (sh -c, cmd /c).
child* child_start_shell(const std::string& command, const std::string& device, std::string* why);
// True once it ended: its status, 128+n after signal n. The child is
// freed then.
bool child_ended(child* c, int* status);

}  // namespace tolvane
