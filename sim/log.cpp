#include "sim/log.h"

#include <cstdarg>
#include <cstdio>

namespace sim {

namespace {
bool enabled = false;
}

void log_enable(bool on) { enabled = on; }

void log_note(const char* format, ...) {
    if (!enabled) return;
    std::va_list args;
    va_start(args, format);
    std::fputs("tolvane-sim: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    va_end(args);
}

}  // namespace sim
