// The board's commands. The file commands use the host's files through
// tolvane's file service; names are the host's, relative to the directory
// tolvane runs in.
#pragma once

#include <string>
#include <vector>

namespace sim {

using Words = std::vector<std::string>;

// Runs one command line split into words (words[0] names the command).
void run_command(const Words& words);

}  // namespace sim
