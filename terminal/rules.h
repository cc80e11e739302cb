// What the terminal does with each symbol from the line and each key, the
// same in both programs; only the waiting differs.
#pragma once

namespace tolvane {

constexpr int KEY_QUIT = 0x11;  // Ctrl-Q
constexpr int FORM_FEED = 0x0C;

// A symbol from the line: SYM_STX serves a file-service request, a form
// feed is dropped, anything else goes to the console as its low 8 bits.
void term_from_line(int symbol);

// A key: Ctrl-Q returns false and sends nothing; any other key goes to the
// line, escaped where needed.
bool term_from_key(int key);

// Keys typed while a request waits for the line are kept here, in order,
// and sent when the loop next turns to the keyboard. Ctrl-Q is never kept:
// it ends the program at once (term_quit).
void term_keep_key(int key);
void term_send_kept_keys();
// The line went away (-w): keys meant for the board that was are not sent
// to the one that comes back.
void term_drop_kept_keys();

// Ctrl-Q in the middle of a request: the keys typed before it go out, the
// request is abandoned, and the program ends as Ctrl-Q ends it.
[[noreturn]] void term_quit();

}  // namespace tolvane
