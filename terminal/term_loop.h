// The interactive terminal, the same loop in both programs over the shared
// rules (rules.h); each platform gives only its wait (base/wait.h).
#pragma once

namespace tolvane {

struct session;

// Runs until Ctrl-Q or a decided run (neither returns); with -w
// (wait_when_gone) a line that goes away is waited for.
void term_loop(session& s, bool wait_when_gone);

}  // namespace tolvane
