// The target's bytes as a UTF-8 console shows them: each whole UTF-8
// sequence as its character, any other byte as the character it is in the
// console's old code page (a board's CP437 box characters), so that no byte
// is lost and none garbles the text after it.
#pragma once

#include <cstddef>
#include <string>

namespace tolvane {

// Bytes as UTF-16 for WriteConsoleW, appended to text. A sequence the
// bytes end inside is left for the next block, unless `last`: then its
// bytes are shown one by one. Returns the bytes taken.
class console_text {
public:
    // fallback_page: the code page bytes that are no UTF-8 are read in.
    explicit console_text(unsigned fallback_page);
    size_t convert(const unsigned char* bytes, size_t count, bool last, std::wstring* text) const;

private:
    wchar_t fallback[256];
};

}  // namespace tolvane
