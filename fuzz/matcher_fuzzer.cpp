// The pattern engine of --expect and --fail (terminal/matcher.h): any
// pattern compiled, any text searched.
//
// An input is one byte of switches, the pattern up to the first NUL, then
// the text (what comes after; no NUL: an empty text).
//   bit 0: also against the C library's regcomp (REG_EXTENDED), for short
//          inputs the engine takes, in the dialect both take alike
//   bit 1: the text begins its line   bit 2: the text ends its line
//   bits 3-7: where the search starts (cut to the text's length)
#include <regex.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "terminal/matcher.h"
#include "terminal/watch.h"

namespace {

[[noreturn]] void fault(const char* what, const std::string& pattern, const std::string& text) {
    std::fprintf(stderr, "matcher fuzzer: %s\n  pattern: \"%s\"\n  text: \"%s\"\n", what, pattern.c_str(),
                 text.c_str());
    std::abort();
}

// What the comparison leaves out: the C library's closure over a counted
// repetition grows as a power of the count. One count up to 32 is quick;
// two nested ("((\<x$|$){16}){16}"), one large ("(\<x$|$){255}": 2 GB) or
// one over an empty alternative ("(||||(a)){16,}": minutes) are not. The
// engine still compiles and searches them.
constexpr unsigned long C_LIBRARY_COUNT_MAX = 32;

bool beyond_c_library(const std::string& p) {
    size_t counts = 0;
    for (size_t i = p.find('{'); i != std::string::npos; i = p.find('{', i + 1)) {
        const char* at = p.c_str() + i + 1;
        if (!std::isdigit(static_cast<unsigned char>(*at))) continue;
        ++counts;
        for (char* end = nullptr; std::isdigit(static_cast<unsigned char>(*at)); at = *end == ',' ? end + 1 : end)
            if (std::strtoul(at, &end, 10) > C_LIBRARY_COUNT_MAX) return true;
    }
    const bool empty_alternative = p.find("(|") != std::string::npos || p.find("||") != std::string::npos ||
                                   p.find("|)") != std::string::npos || (!p.empty() && (p.front() == '|' || p.back() == '|'));
    return counts > 1 || (counts == 1 && empty_alternative);
}

// Patterns the C library takes as the engine does: no escape but \w \W \s
// \S \b \< \> and punctuation (not \` or \', its anchors at the start and
// end of the text: *buffer_anchors tells), and no anchor or \b and its
// kin inside a group (the C library loses them in repeated groups: "(|A^a)+"
// matches all of "Aa"). \B is left out too: the C library misjudges it
// after a repetition ("a*\B" on "ca." ends at 2, not 1).
bool shared_dialect(const std::string& p, bool* word_edges, bool* buffer_anchors) {
    *word_edges = false;
    *buffer_anchors = false;
    for (size_t i = 0; i + 1 < p.size(); ++i) {
        if (p[i] == '\\' && (p[i + 1] == '`' || p[i + 1] == '\'')) *buffer_anchors = true;
        if (p[i] == '\\') ++i;
    }
    int depth = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        const char c = p[i];
        if (c == '[') {
            // To the bracket's end, as the engine reads it.
            size_t j = i + 1;
            if (j < p.size() && p[j] == '^') ++j;
            if (j < p.size() && p[j] == ']') ++j;
            while (j < p.size() && p[j] != ']') {
                if (p[j] == '[' && j + 1 < p.size() && std::strchr(":.=", p[j + 1])) {
                    const char close[3] = {p[j + 1], ']', '\0'};
                    const size_t end = p.find(close, j + 2);
                    if (end == std::string::npos) return false;
                    j = end + 2;
                } else {
                    ++j;
                }
            }
            i = j;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (c == '^' || c == '$') {
            if (depth > 0) return false;
        } else if (c == '\\') {
            if (i + 1 == p.size()) return true;  // refused by both
            const char e = p[++i];
            if (std::strchr("b<>", e)) {
                if (depth > 0) return false;
                *word_edges = true;
            } else if (std::strchr("wWsS", e) == nullptr &&
                       (std::isalnum(static_cast<unsigned char>(e)) || e == '`' || e == '\'')) {
                return false;
            }
        }
    }
    return true;
}

struct verdict {
    bool matched;
    size_t end;
    bool operator!=(const verdict& o) const { return matched != o.matched || (matched && end != o.end); }
};

}  // namespace

namespace tolvane {
// No console output fails here, so nothing ends the program.
void stop_now(int) { std::abort(); }
}  // namespace tolvane

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tolvane;
    if (size == 0) return 0;
    const uint8_t switches = data[0];
    const char* const rest = reinterpret_cast<const char*>(data + 1);
    const size_t rest_size = size - 1;
    const char* nul = static_cast<const char*>(std::memchr(rest, 0, rest_size));
    const std::string pattern(rest, nul ? static_cast<size_t>(nul - rest) : rest_size);
    std::string text = nul ? std::string(nul + 1, rest + rest_size) : std::string();
    if (text.size() > WATCH_LINE_MAX) text.resize(WATCH_LINE_MAX);
    const bool at_line_start = switches & 2, at_line_end = switches & 4;

    std::string error;
    const matcher_ptr m = matcher_compile(pattern.c_str(), &error);
    // The worst case of both sizes is the unit tests' (matcher_test.cpp):
    // here at most some million steps an input, so that fuzzing goes on.
    if (m && text.size() * matcher_size(*m) > (size_t{1} << 21)) text.resize((size_t{1} << 21) / matcher_size(*m));
    const size_t from = std::min<size_t>(switches >> 3, text.size());
    if (!m) {
        if (error.empty()) fault("refused without a reason", pattern, text);
    } else {
        if (matcher_size(*m) > MATCHER_SIZE_MAX + 1) fault("compiled past the limit", pattern, text);
        verdict got{false, 0};
        got.matched = matcher_find(*m, text.data(), from, text.size(), at_line_start, at_line_end, &got.end);
        const size_t steps = matcher_last_steps();
        if (got.matched && (got.end < from || got.end > text.size())) fault("a match outside the text", pattern, text);
        if (steps > 3 * (text.size() - from + 1) * matcher_size(*m)) fault("more steps than linear", pattern, text);
        verdict again{false, 0};
        again.matched = matcher_find(*m, text.data(), from, text.size(), at_line_start, at_line_end, &again.end);
        if (again != got) fault("a second search found otherwise", pattern, text);
        // watch.cpp's prefilter: a text the engine matches holds a literal.
        if (got.matched) {
            const std::vector<std::string> literals = required_literals(pattern.c_str());
            bool holds = literals.empty();
            for (const std::string& l : literals) holds = holds || text.find(l, from) != std::string::npos;
            if (!holds) fault("a match without a required literal", pattern, text);
        }
    }

    // Against the C library, on what it can be given (no NUL) and decides
    // quickly: patterns the engine took (a repetition of a repetition,
    // "a++++", makes the C library take gigabytes; what it refuses the
    // unit tests check the engine refuses too).
    if (!m || !(switches & 1) || pattern.size() > 64 || text.size() > 64 || text.find('\0') != std::string::npos ||
        beyond_c_library(pattern))
        return 0;
    bool word_edges, buffer_anchors;
    const bool shared = shared_dialect(pattern, &word_edges, &buffer_anchors);
    regex_t r;
    if (regcomp(&r, pattern.c_str(), REG_EXTENDED) != 0) {
        // \` and \' are anchors there ("\`*" is refused), literals here.
        if (!buffer_anchors) fault("taken, but the C library refuses it", pattern, text);
        return 0;
    }
    if (shared && (!word_edges || (at_line_start && at_line_end))) {
        regmatch_t match[1];
        const int flags = (at_line_start ? 0 : REG_NOTBOL) | (at_line_end ? 0 : REG_NOTEOL);
        verdict want{regexec(&r, text.c_str(), 1, match, flags) == 0, 0};
        if (want.matched) want.end = static_cast<size_t>(match[0].rm_eo);
        verdict got{false, 0};
        got.matched = matcher_find(*m, text.data(), 0, text.size(), at_line_start, at_line_end, &got.end);
        if (got != want) {
            std::fprintf(stderr, "engine: %d end %zu; C library: %d end %zu\n", got.matched, got.end, want.matched,
                         want.end);
            fault("the C library finds otherwise", pattern, text);
        }
    }
    regfree(&r);
    return 0;
}
