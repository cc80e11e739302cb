// What the terminal does with each symbol from the line and each key, the
// same in both programs; only the waiting differs.
//
// Keys reach the terminal through the key queue (base/keys.h): whoever
// waits records them there, and the loops act on them here, after their
// wait has returned.
#pragma once

namespace tolvane {

constexpr int FORM_FEED = 0x0C;
// Ctrl-Q to exit: the keys typed before it and the queued output get this
// long to leave a line that is slow or takes nothing.
constexpr int QUIT_PATIENCE_MS = 500;

// A symbol from the line: SYM_STX serves a file-service request, a form
// feed is dropped (the hex view shows it), anything else goes to the
// console as its low 8 bits, shown as the display settings say.
void term_from_line(int symbol);

// Sends the queued keys, oldest first, as far as the line takes them
// without waiting; the rest stay queued for the next turn. The key maps
// apply, and with local echo the console shows what was sent.
void term_send_keys();

// Ends the program after Ctrl-Q: the queued keys and output leave within
// QUIT_PATIENCE_MS or are dropped, then the settings come back, status 0.
[[noreturn]] void term_quit();

}  // namespace tolvane
