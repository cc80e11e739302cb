#include "sim/output.h"

#include <cstdarg>
#include <cstdio>

#include "link/link.h"

namespace sim {

void put_text(const char* text) {
    for (const char* p = text; *p; ++p) tolvane::link_put(static_cast<unsigned char>(*p));
}

bool put_file_bytes(const char* data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (data[i] == '\n') tolvane::link_put('\r');
        tolvane::link_put(static_cast<unsigned char>(data[i]));
    }
    return count > 0 && data[count - 1] == '\n';
}

void put_line(const char* format, ...) {
    char text[512];
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    put_text(text);
    put_text("\r\n");
}

}  // namespace sim
