// The line lent to another program for a while (a flasher): asked for on
// a control connection of the share (tolvane --lend, docs/protocol.md) or
// with Ctrl-T f (the profile's flash command). The line is closed, lock
// and all, the program runs with TOLVANE_DEVICE, the share's clients stay;
// once it is done the line is opened again as -w does ("line back") and
// the board's text shows from its first byte.
#pragma once

#include <string>

#include "base/child.h"

namespace tolvane {

struct session;

struct lend_state {
    std::string flash_command;  // flash = COMMAND; empty: none
    bool lent = false;
    unsigned control_id = 0;  // the control connection that asked; 0: Ctrl-T f
    child* flash = nullptr;   // Ctrl-T f's program while it runs
    bool done = false;        // the program is done with the line
};

// Between requests: what the control connections ask.
void lend_look(session& s);
// Ctrl-T f.
void lend_flash(session& s);
// Lent: waits, the keys, the commands and the share watched, until the
// program is done; then opens the line again. Returns early on Ctrl-Q or
// a decided run.
void lend_wait(session& s);

}  // namespace tolvane
