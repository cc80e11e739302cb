// What tolvane-win's wait (win32/wait.cpp) watches for a line.
#pragma once

namespace tolvane {

class overlapped_line;

// The line's operations in flight: their events, and what has completed.
struct wait_set {
    overlapped_line* line = nullptr;
};

}  // namespace tolvane
