// The POSIX wait (base/wait.h) for a descriptor that is not the line yet:
// a connection being made and set up.
#pragma once

#include "base/deadline.h"
#include "base/wait.h"

namespace tolvane {

#include <poll.h>

#include <cstddef>

// What the wait watches: the line's descriptor, and the descriptors of
// the others (base/wait.h's parties).
struct wait_set {
    int fd = -1;
    static constexpr size_t OTHERS_MAX = 80;
    pollfd others[OTHERS_MAX];
    size_t other_count = 0;
};

// One more descriptor for the wait; beyond OTHERS_MAX it is not watched
// (the share takes no more clients than fit).
inline void wait_set_add(wait_set* set, int fd, short events) {
    if (set->other_count < wait_set::OTHERS_MAX) set->others[set->other_count++] = {fd, events, 0};
}

// Waits for events (poll's) on fd, reading keys and watching signals as
// every wait does; false at until, at the --timeout, or once Ctrl-Q came.
bool wait_fd_ready(const wait_watch& watch, int fd, short events, deadline until);

}  // namespace tolvane
