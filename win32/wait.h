// What tolvane-win's wait (win32/wait.cpp) watches for a line.
#pragma once

#include <windows.h>

#include <cstddef>

namespace tolvane {

class overlapped_line;

// The line's operations in flight: their events, and what has completed;
// the others' events (base/wait.h's parties), and whether one of them is
// ready already, so that the wait only looks.
struct wait_set {
    overlapped_line* line = nullptr;
    // WaitForMultipleObjects takes 64 handles: the keyboard's, the line's
    // and the console's come first.
    static constexpr size_t OTHERS_MAX = 56;
    HANDLE others[OTHERS_MAX];
    size_t other_count = 0;
    bool ready_now = false;
};

// One more event for the wait; beyond OTHERS_MAX the wait looks again
// soon instead of sleeping on it.
inline void wait_set_add(wait_set* set, HANDLE event) {
    if (set->other_count < wait_set::OTHERS_MAX) set->others[set->other_count++] = event;
    else set->ready_now = true;
}

}  // namespace tolvane
