// What the terminal does with each symbol from the line and each key, the
// same in both programs; only the waiting differs.
#pragma once

namespace tolvane {

constexpr int KEY_QUIT = 0x11;  // Ctrl-Q
constexpr int FORM_FEED = 0x0C;

// A symbol from the line: SYM_STX serves a file-service request, a form
// feed is dropped, anything else goes to the console as its low 8 bits.
void term_from_line(int symbol, void (*console_put)(int byte));

// A key: Ctrl-Q returns false and sends nothing; any other key goes to the
// line, escaped where needed.
bool term_from_key(int key);

}  // namespace tolvane
