// The keyboard, one per platform (posix/console.cpp, win32/console.cpp).
// While it is taken, keys typed are read by the waits (base/wait.h) into
// the key queue: raw on a POSIX terminal, Ctrl-C a key on a Windows
// console. The console's settings come back on every way out.
#pragma once

#include "base/settings.h"

namespace tolvane {

// The byte the console's Backspace key gives (DEL on a POSIX terminal,
// BS on a Windows console); --backspace says what it sends.
extern const unsigned char KEYBOARD_BACKSPACE;

// What the keys without a character send (--keys); a POSIX terminal's
// keys are sent as the terminal gives them, whatever the form.
void keyboard_use(key_form form);

void keyboard_take();
// Keys come from a terminal (a console), not a pipe or a file.
bool keyboard_is_terminal();
void keyboard_release();

}  // namespace tolvane
