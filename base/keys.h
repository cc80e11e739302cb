// Keys typed on the host, on their way to the line, Ctrl-Q, and the
// commands of the command key.
//
// Keys are read in one place (the console, from any wait of the program)
// and acted on in another (the terminal loop, after the wait returned). A
// wait only records: keys go into this queue in the order typed, Ctrl-Q
// sets the quit flag and the keys typed after it are dropped, and a key
// typed after the command key (Ctrl-T) is queued as a command in its place
// among the keys. Nothing here sends, so a wait never touches what an
// enclosing loop is working on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

namespace tolvane {

constexpr int KEY_QUIT = 0x11;  // Ctrl-Q
// A queued command: the key typed after the command key, with this bit.
// The command key twice, or it and Ctrl-Q, queue that key itself; it and
// q set the quit flag as Ctrl-Q does.
constexpr int KEY_COMMAND = 0x100;
constexpr int KEY_COMMAND_QUIT = 'q';
// The command that lends the line to the profile's flash command.
constexpr int KEY_COMMAND_FLASH = 'f';
// Keys waiting for a line that takes nothing: once this many are queued,
// keys piped in wait in their pipe, and keys typed on a terminal are still
// read for Ctrl-Q but dropped ("keys dropped: the line takes none", once),
// so memory stays bounded.
constexpr size_t KEY_QUEUE_MAX = size_t{1} << 20;

// The session's keys on their way, read by the waits (wait_watch::keys).
struct key_queue {
    std::deque<uint16_t> entries;  // keys, and commands with KEY_COMMAND
    bool said_dropped = false;
    int command_key = 0x14;  // Ctrl-T
    bool after_command_key = false;
};

// The command key for the rest of the run (Ctrl-T unless changed);
// NO_COMMAND_KEY (base/settings.h) for none.
void keys_set_command_key(key_queue& keys, int key);

// How many keys the queue takes now (what one read may fetch).
size_t keys_room(const key_queue& keys);
size_t keys_queued(const key_queue& keys);

// Records keys read from the console. A Ctrl-Q among them sets the quit
// flag; it and everything after it are not queued. Keys beyond the room
// are dropped (said once), so a reader asks for keys_room() at most
// unless it reads only to see Ctrl-Q. A command key at the end waits for
// the key of the next call.
void keys_add(key_queue& keys, const unsigned char* typed, size_t count);
// The oldest queued key or command (KEY_COMMAND | key), taken out of the
// queue, or only looked at; -1 when there is none.
int keys_take(key_queue& keys);
int keys_peek(const key_queue& keys);
// The keys have no line to go to (the line went away): all are dropped.
void keys_clear(key_queue& keys);

// While a line is waited for (-w), in place of keys_clear: the keys are
// dropped and each command is handed to act with its context (no act:
// dropped too).
using command_action = void (*)(void* context, int key);
void keys_without_line(key_queue& keys, command_action act, void* context);

// Ctrl-Q was typed. Once set it stays set for the rest of the run. It is
// the program's, as a signal is: every loop, however deep (a connect, a
// long match), ends on it.
bool quit_requested();
void request_quit();

// The queue empty, no Ctrl-Q and no command key half typed: a run of its
// own (tests and fuzzing). The command key stays.
void keys_reset(key_queue& keys);

}  // namespace tolvane
