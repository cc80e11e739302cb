// Extended regular expressions for --expect and --fail, one engine per
// platform behind this header: the C library's regcomp where there is one
// (matcher-posix.cpp), the C++ library's extended grammar on Windows, whose
// C library has none (matcher-win32.cpp).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace tolvane {

struct matcher;
void matcher_free(matcher* m);
struct matcher_deleter {
    void operator()(matcher* m) const { matcher_free(m); }
};
using matcher_ptr = std::unique_ptr<matcher, matcher_deleter>;

// Compiles pattern; null, with the engine's reason in *error, when it is
// no valid expression.
matcher_ptr matcher_compile(const char* pattern, std::string* error);

// Looks for the leftmost match in text[from, length); text[length] must be
// NUL and the text holds no other NUL. at_line_start: text[from] begins a
// line, so ^ may match there; at_line_end: text[length] ends one, so $ may
// match there. Sets *end to the index just past the match.
bool matcher_find(const matcher& m, const char* text, size_t from, size_t length, bool at_line_start,
                  bool at_line_end, size_t* end);

}  // namespace tolvane
