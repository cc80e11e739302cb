// What each platform's console provides to the shared part (console.cpp).
#pragma once

#include <string>

namespace tolvane {

// The program's own text, shown after the target bytes that wait, in the
// console's own form (CR LF where a raw console needs it).
void console_show_text(std::string& text);

// The last byte shown, '\n' before anything was.
extern int console_last_shown;

}  // namespace tolvane
