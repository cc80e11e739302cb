// printf-style formatting into a string of whatever length it takes.
#pragma once

#include <cstdarg>
#include <string>

namespace tolvane {

std::string format_text(const char* format, va_list args);

}  // namespace tolvane
