// What each platform's console provides to the shared part (console.cpp).
#pragma once

#include <string>

namespace tolvane {

// The program's own text, shown after the target bytes that wait; already
// in the console's own form (CR LF where console_crlf says so).
void console_show_text(std::string& text);

// The last byte shown, '\n' before anything was.
extern int console_last_shown;

// Set by the platform while the console is a raw terminal, where a new
// line takes CR LF.
extern bool console_crlf;

}  // namespace tolvane
