// Keys typed on the host, on their way to the line, and Ctrl-Q.
//
// Keys are read in one place (the console, from any wait of the program)
// and acted on in another (the terminal loop, after the wait returned). A
// wait only records: keys go into this queue in the order typed, Ctrl-Q
// sets the quit flag and the keys typed after it are dropped. Nothing here
// sends, so a wait never touches what an enclosing loop is working on.
#pragma once

#include <cstddef>

namespace tolvane {

constexpr int KEY_QUIT = 0x11;  // Ctrl-Q
// Keys waiting for a line that takes nothing: once this many are queued,
// keys piped in wait in their pipe, and keys typed on a terminal are still
// read for Ctrl-Q but dropped ("keys dropped: the line takes none", once),
// so memory stays bounded.
constexpr size_t KEY_QUEUE_MAX = size_t{1} << 20;

// How many keys the queue takes now (what one read may fetch).
size_t keys_room();
size_t keys_queued();

// Records keys read from the console. A Ctrl-Q among them sets the quit
// flag; it and everything after it are not queued. Keys beyond the room
// are dropped (said once), so a reader asks for keys_room() at most
// unless it reads only to see Ctrl-Q.
void keys_add(const unsigned char* keys, size_t count);
// The oldest queued key, taken out of the queue; -1 when there is none.
int keys_take();
// The keys have no line to go to (the line went away): all are dropped.
void keys_clear();

// Ctrl-Q was typed. Once set it stays set for the rest of the run.
bool quit_requested();
void request_quit();

// The queue empty and no Ctrl-Q: a run of its own (tests and fuzzing).
void keys_reset();

}  // namespace tolvane
