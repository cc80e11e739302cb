// tolvane --lend SHARE -- COMMAND [ARG...]: asks the tolvane sharing at
// SHARE for its line (terminal/lend.h), runs COMMAND with TOLVANE_DEVICE
// set to the line's device, and gives the line back when it ended.
#pragma once

#include <string>
#include <vector>

namespace tolvane {

// COMMAND's status; 255 when the line could not be had, 127 when COMMAND
// could not be started, 2 without a command.
int lend_run(const std::string& share, const std::vector<std::string>& command);

}  // namespace tolvane
