// The POSIX wait (base/wait.h) for a descriptor that is not the line yet:
// a connection being made and set up.
#pragma once

#include "base/deadline.h"

namespace tolvane {

// What the wait watches for a line: its descriptor.
struct wait_set {
    int fd = -1;
};

// Waits for events (poll's) on fd, reading keys and watching signals as
// every wait does; false at until, at the --timeout, or once Ctrl-Q came.
bool wait_fd_ready(int fd, short events, deadline until);

}  // namespace tolvane
