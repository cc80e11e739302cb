// The command key's commands: the command key (Ctrl-T), then one key. One
// table of keys, help texts and actions, which also makes the list that ?
// prints. What a command says is the program's own line, on the console
// and in the log: it never reaches the line or the --expect watch.
#pragma once

#include <string>

#include "base/settings.h"

namespace tolvane {

// Before the line opens: the command key of the settings, the settings the
// settings command shows, and the commands handed to the waits for a line
// (base/keys.h), so that they work there too.
void commands_start(const settings& s);

// Acts on the key typed after the command key (q and the keys sent as
// they are never come here: base/keys.cpp takes them).
void command_run(int key);

// Ctrl-T B asks for a speed on the program's own line ("speed: "), Ctrl-T
// y and x for a file's path ("send by YMODEM: "): until Enter takes the
// answer or Esc leaves, the keys typed are the answer and none goes to the
// board. Once a transfer is asked for, keys are dropped until it starts.
bool command_prompt_open();
void command_prompt_key(int key);

// A transfer asked for by a command, once: y or x and the path typed, or
// Y (receive, no path). The session's transfer takes it (terminal/transfer.h).
bool commands_take_transfer(char* key, std::string* path);

}  // namespace tolvane
