// The board's shell on its serial console: a prompt, echo and line editing.
// A line ends with CR or LF (CR LF counts once); backspace or DEL rubs out
// the last character, and on an empty line does nothing at all, so the 50
// backspaces tolvane sends at start leave no trace. Ctrl-C drops the line.
#pragma once

namespace sim {

constexpr const char* SHELL_PROMPT = "sim> ";
constexpr int SHELL_LINE_MAX = 200;  // longer input rings the bell

// A new host is on the line: empty input, a greeting and the prompt.
void shell_greet();
// One symbol from the host; a finished line runs as a command.
void shell_input(int symbol);
// A key that came while a file-service request waited for the host's
// answer; it is taken as input once the command is done.
void shell_stray_byte(int byte);

}  // namespace sim
