// The POSIX console's keyboard: standard input, raw while it is taken
// (base/keyboard.h). Keys are read here and nowhere else, into the key
// queue, by the wait (posix/wait.cpp).
#pragma once

namespace tolvane {

struct key_queue;

// Standard input while keys can come from it; -1 once it ended, and while
// the key queue is full and keys are piped in (they wait in the pipe).
int console_keyboard_fd(const key_queue& queue);
// Reads the keys that are there, at most what the key queue takes, into
// the queue (DEL as BS). At end of input the keyboard is closed for good.
void console_read_keys(key_queue& queue);

// What the console's output and the session log are written to, for the
// wait (-1: none).
int console_out_fd();
int log_out_fd();

}  // namespace tolvane
