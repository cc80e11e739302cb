// The interactive terminal: one loop per platform (term_loop-posix.cpp,
// term_loop-win32.cpp) over the shared rules of rules.h.
#pragma once

namespace tolvane {

// Runs until Ctrl-Q (which does not return) or, with no keyboard and no
// -w, until the line goes away.
void term_loop();

}  // namespace tolvane
