// The Windows console: the target's bytes go to standard output in
// blocks, keys come from the console's input records or, when standard
// input is no console, from its bytes. Keys are read here and nowhere
// else, into the key queue (base/keys.h).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstddef>

namespace tolvane {

struct key_queue;

// While the keyboard is taken (base/keyboard.h), Ctrl-C is a key for the
// target; the console's input mode comes back on every way out. Standard
// input that is no console is read by a thread of its own, so that the
// wait can see it.

// The handles that are signalled when keys are there, for the wait; how
// many (at most 2) were put into handles. None once input has ended.
int console_wait_handles(HANDLE* handles);

// Whether keys are read now: not once input ended, nor while the key
// queue is full and keys come piped in (they wait in their pipe).
bool console_keys_wanted(const key_queue& queue);
// Reads the keys that are there without waiting, at most what the key
// queue takes (a console is read for Ctrl-Q even when it is full).
void console_read_keys(key_queue& queue);

// The console's output and input code pages UTF-8 for the session (once,
// whichever of standard output and input is a console first), with
// virtual-terminal processing where standard output is one; given back on
// every way out, an exit or the console's close included.
void console_take_utf8();
void console_give_back();

// Signalled once the writer thread has written more, while the program
// waits for room in its ring; null otherwise, and where the output is
// written at once.
HANDLE console_output_event();

}  // namespace tolvane
