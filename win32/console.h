// The Windows console's keyboard, read here and nowhere else, into the
// key queue (base/keys.h).
#pragma once

namespace tolvane {

// Ctrl-C becomes a key for the target while the terminal runs; the
// console's input mode comes back on every way out.
void console_take_input();
void console_restore_input();

// Reads the keys that are there, at most what the key queue takes.
void console_read_keys();

}  // namespace tolvane
