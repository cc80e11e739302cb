// The whole program, the same on every platform.
#pragma once

#include <string>
#include <vector>

namespace tolvane {

void send_reset();
void send_command_words(const std::vector<std::string>& words);

// Scans the options, opens the line, sends the reset and the command
// words, runs the terminal unless -q, closes the line. Returns the exit
// status.
int entry(int argc, char* argv[]);

}  // namespace tolvane
