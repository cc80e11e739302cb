// The whole program, the same on every platform.
#pragma once

#include <string>
#include <vector>

namespace tolvane {

struct session;
void send_reset(session& s);
void send_command_words(session& s, const std::vector<std::string>& words);

// Scans the options, opens the line, sends the reset and the command
// words, runs the terminal unless -q, closes the line. Returns the exit
// status.
int entry(int argc, char* argv[]);

}  // namespace tolvane
