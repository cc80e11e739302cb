// The bare host's floor, for both systems: one file served from memory
// with nothing else done. What the target reads comes from the content;
// what it writes is held against it, and its close says whether it landed.
#pragma once

#include <cstddef>
#include <string>

namespace bench {

struct BareFile {
    const std::string* content = nullptr;
    size_t at = 0;
    bool written_as_content = true;
};

// Answers one request on the link, its STX already taken: open, read,
// write, close and get character; another code is let go. line_up says
// whether the line is still there, for a write's data read to its ETX.
void bare_answer(BareFile& file, bool (*line_up)());

}  // namespace bench
