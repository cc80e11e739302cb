// The command key's commands: the command key (Ctrl-T), then one key. One
// table of keys, help texts and actions, which also makes the list that ?
// prints. What a command says is the program's own line, on the console
// and in the log: it never reaches the line or the --expect watch.
#pragma once

#include <string>

#include "base/settings.h"

namespace tolvane {

struct commands_state {
    settings run;  // as the run started; the line's and the view's now come from their owners
    stamp_format stamps_when_on = stamp_format::time_of_day;
    enum class asking { nothing, speed, path } asks = asking::nothing;
    char transfer_key = 0;   // y or x while a path is asked; then the transfer asked for, until taken
    std::string typed;       // the answer so far: the digits after "speed: ", a path
    bool transfer_asked = false;
};
struct session;

// Before the line opens: the command key of the settings, the settings the
// settings command shows, and the commands handed to the waits for a line
// (base/keys.h), so that they work there too.
void commands_start(session& s, const settings& run);

// Acts on the key typed after the command key (q and the keys sent as
// they are never come here: base/keys.cpp takes them).
void command_run(session& s, int key);

// Ctrl-T B asks for a speed on the program's own line ("speed: "), Ctrl-T
// y and x for a file's path ("send by YMODEM: "): until Enter takes the
// answer or Esc leaves, the keys typed are the answer and none goes to the
// board. Once a transfer is asked for, keys are dropped until it starts.
bool command_prompt_open(session& s);
void command_prompt_key(session& s, int key);

// A transfer asked for by a command, once: y or x and the path typed, or
// Y (receive, no path). The session's transfer takes it (terminal/transfer.h).
bool commands_take_transfer(session& s, char* key, std::string* path);

}  // namespace tolvane
