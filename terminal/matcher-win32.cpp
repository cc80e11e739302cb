// The C++ library's POSIX extended grammar. Its error is only told by an
// exception, caught here and nowhere else. Matching runs breadth-first
// where the library offers it (libstdc++'s __polynomial), so a long line
// cannot exhaust the stack as its depth-first search would.
#include <regex>

#include "terminal/matcher.h"

namespace tolvane {

namespace {

constexpr auto GRAMMAR = std::regex_constants::extended
#if defined(__GLIBCXX__)
                         | std::regex_constants::__polynomial
#endif
    ;

}  // namespace

struct matcher {
    std::regex compiled;
};

void matcher_free(matcher* m) { delete m; }

matcher_ptr matcher_compile(const char* pattern, std::string* error) {
    try {
        return matcher_ptr(new matcher{std::regex(pattern, GRAMMAR)});
    } catch (const std::regex_error& e) {
        *error = e.what();
        return nullptr;
    }
}

bool matcher_find(const matcher& m, const char* text, size_t from, size_t length, bool at_line_start,
                  bool at_line_end, size_t* end) {
    std::cmatch match;
    auto flags = std::regex_constants::match_default;
    if (!at_line_start) flags |= std::regex_constants::match_not_bol;
    if (!at_line_end) flags |= std::regex_constants::match_not_eol;
    if (!std::regex_search(text + from, text + length, match, m.compiled, flags)) return false;
    *end = from + static_cast<size_t>(match.position(0) + match.length(0));
    return true;
}

}  // namespace tolvane
