// The fopen modes the file service takes from the target, checked before
// the C library sees them: one of r, w, a, then any of +, b, t, x, each at
// most once, x only with w. Anything else (the C library's own extensions,
// such as "e" or ",ccs=") is refused.
#pragma once

namespace tolvane {

struct open_mode {
    bool valid;
    bool reads;      // r, or any mode with +
    bool writes;     // w, a, or any mode with +
    bool truncates;  // w
    bool appends;    // a
    bool exclusive;  // x: the file must not exist yet
};

open_mode open_mode_parse(const char* mode);

}  // namespace tolvane
