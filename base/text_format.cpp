#include "base/text_format.h"

#include <cstdio>

namespace tolvane {

std::string format_text(const char* format, va_list args) {
    char small[512];
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(small, sizeof small, format, args);
    std::string text;
    if (length >= 0 && static_cast<size_t>(length) < sizeof small) {
        text.assign(small, static_cast<size_t>(length));
    } else if (length >= 0) {
        text.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(&text[0], text.size(), format, again);
        text.resize(static_cast<size_t>(length));
    }
    va_end(again);
    return text;
}

}  // namespace tolvane

namespace tolvane {

std::string text_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = format_text(format, args);
    va_end(args);
    return text;
}

std::string text_escaped(const char* text) {
    std::string escaped;
    for (const char* p = text; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '\n') escaped += "\\n";
        else if (c == '\r') escaped += "\\r";
        else if (c == '\t') escaped += "\\t";
        else if (c < 0x20 || c == 0x7F) escaped += text_printf("\\x%02X", c);
        else escaped += static_cast<char>(c);
    }
    return escaped;
}

}  // namespace tolvane
