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

}  // namespace tolvane
