// printf-style formatting into a string of whatever length it takes.
#pragma once

#include <cstdarg>
#include <string>

namespace tolvane {

std::string format_text(const char* format, va_list args);
std::string text_printf(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// A text for a line of its own (the trace): each control character as its
// C escape, \n, \r, \t or \xNN, every other byte as it is.
std::string text_escaped(const char* text);

}  // namespace tolvane
