#include "fileservice/open_mode.h"

#include <cstring>

namespace tolvane {

open_mode open_mode_parse(const char* mode) {
    open_mode m{};
    const char kind = mode[0];
    if (kind != 'r' && kind != 'w' && kind != 'a') return m;
    bool seen_plus = false, seen_b = false, seen_t = false;
    for (const char* p = mode + 1; *p; ++p) {
        bool* seen = nullptr;
        switch (*p) {
        case '+': seen = &seen_plus; break;
        case 'b': seen = &seen_b; break;
        case 't': seen = &seen_t; break;
        case 'x': seen = kind == 'w' ? &m.exclusive : nullptr; break;
        default: break;
        }
        if (seen == nullptr || *seen) return open_mode{};
        *seen = true;
    }
    m.valid = true;
    m.reads = kind == 'r' || seen_plus;
    m.writes = kind != 'r' || seen_plus;
    m.truncates = kind == 'w';
    m.appends = kind == 'a';
    return m;
}

}  // namespace tolvane
