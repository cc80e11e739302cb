// The engine against the C library's regcomp (REG_EXTENDED), the engine
// tolvane used before, on generated patterns and texts: both take the same
// expressions the same way, and where the C library refuses a pattern the
// engine refuses it too.
#include <gtest/gtest.h>
#include <regex.h>

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/matcher.h"

namespace tolvane {
namespace {

// A fixed sequence, so that a failure comes back on every run.
class generator {
public:
    explicit generator(uint64_t seed) : state_(seed) {}
    unsigned below(unsigned n) {
        state_ = state_ * 6364136223846793005u + 1442695040888963407u;
        return static_cast<unsigned>((state_ >> 33) % n);
    }
    const char* pick(const std::vector<const char*>& from) { return from[below(static_cast<unsigned>(from.size()))]; }

    // Expressions both engines take: no back-references, no repetition of a
    // repetition, none after an anchor, and none of the escapes the C
    // library reads otherwise (\d, \`, \'). Anchors and \b and its kin
    // stand outside groups only: in a repeated group the C library loses
    // them ("(|A^a)+" matches all of "Aa" there); and no \B, which it
    // misjudges after a repetition ("a*\B" on "ca." ends at 2, not 1).
    std::string regex(int depth, bool top = true) {
        std::string r = branch(depth, top);
        for (unsigned n = below(4) == 0 ? 1 + below(2) : 0; n > 0; --n) r += "|" + branch(depth, top);
        return r;
    }
    std::string text() {
        std::string t;
        for (unsigned n = below(13); n > 0; --n) t += pick({"a", "b", "c", " ", "_", "-", ".", "ab", "A", "1"});
        return t;
    }

private:
    std::string branch(int depth, bool top) {
        std::string b;
        for (unsigned n = below(5); n > 0; --n) b += piece(depth, top);
        return b;
    }
    std::string piece(int depth, bool top) {
        const unsigned kind = below(16);
        if (kind == 0) return top ? pick({"^", "$", "\\b", "\\<", "\\>"}) : "";
        std::string atom;
        if (kind <= 6) atom = pick({"a", "b", "c", " ", "_", "-", "A", "1"});
        else if (kind == 7) atom = pick({".", "\\.", "\\-", "\\_"});
        else if (kind == 8) atom = pick({"\\w", "\\W", "\\s", "\\S"});
        else if (kind <= 11)
            atom = pick({"[ab]", "[^a]", "[a-c]", "[[:alpha:]]", "[]a]", "[^]b]", "[[:space:]_]", "[a-]",
                         "[[:digit:][:upper:]]", "[^[:alnum:]]", "[.]", "[[.-.]a]", "[[=a=]b]", "[--/]"});
        else atom = depth > 0 ? "(" + regex(depth - 1, false) + ")" : "(a)";
        if (below(3) == 0) {
            atom += pick({"*", "+", "?", "{2}", "{0,1}", "{1,}", "{1,3}", "{0}", "{,2}", "{3}"});
        }
        return atom;
    }

    uint64_t state_;
};

struct verdict {
    bool matched;
    size_t end;
};

verdict by_the_c_library(const regex_t& r, const std::string& text, bool at_line_start, bool at_line_end) {
    regmatch_t m[1];
    const int flags = (at_line_start ? 0 : REG_NOTBOL) | (at_line_end ? 0 : REG_NOTEOL);
    if (regexec(&r, text.c_str(), 1, m, flags) != 0) return {false, 0};
    return {true, static_cast<size_t>(m[0].rm_eo)};
}

verdict by_the_engine(const matcher& m, const std::string& text, bool at_line_start, bool at_line_end) {
    size_t end = 0;
    if (!matcher_find(m, text.c_str(), 0, text.size(), at_line_start, at_line_end, &end)) return {false, 0};
    return {true, end};
}

TEST(MatcherAgainstTheCLibrary, GeneratedPatternsMatchTheSame) {
    generator g(20240611);
    size_t compared = 0;
    for (int p = 0; p < 6000; ++p) {
        const std::string pattern = g.regex(p % 3);
        regex_t r;
        ASSERT_EQ(regcomp(&r, pattern.c_str(), REG_EXTENDED), 0) << pattern;
        std::string error;
        const matcher_ptr m = matcher_compile(pattern.c_str(), &error);
        if (!m) {
            regfree(&r);
            // Only a size the C library takes and we do not may differ.
            EXPECT_NE(error.find("atoms"), std::string::npos) << pattern << ": " << error;
            continue;
        }
        // Where the line goes on, \b and its kin see an unknown byte here
        // and the C library a line end: compared at line ends only.
        const bool word_edges = pattern.find("\\b") != std::string::npos ||
                                pattern.find("\\<") != std::string::npos || pattern.find("\\>") != std::string::npos;
        for (int t = 0; t < 16; ++t) {
            const std::string text = g.text();
            for (int flags = 0; flags < 4; ++flags) {
                const bool start = flags & 1, end = flags & 2;
                if (word_edges && !(start && end)) continue;
                const verdict want = by_the_c_library(r, text, start, end);
                const verdict got = by_the_engine(*m, text, start, end);
                EXPECT_EQ(got.matched, want.matched)
                    << "/" << pattern << "/ on \"" << text << "\" start " << start << " end " << end;
                if (got.matched && want.matched) {
                    EXPECT_EQ(got.end, want.end)
                        << "/" << pattern << "/ on \"" << text << "\" start " << start << " end " << end;
                }
                ++compared;
            }
        }
        regfree(&r);
    }
    EXPECT_GT(compared, 100000u);
}

// Random strings of the pattern's special characters: what the C library
// refuses, the engine refuses too.
TEST(MatcherAgainstTheCLibrary, WhatTheCLibraryRefusesIsRefused) {
    generator g(7);
    const std::vector<const char*> parts = {"a", "b", "(", ")", "[", "]", "^", "$", "|", "*", "+", "?", "{", "}",
                                            "{1}", "{2,1}", "{1,", ",", "-", ":", "[:alpha:]", "[:nope:]", "\\",
                                            "\\1", "\\w", "\\(", ".", "[.", ".]", "=", "0", "9"};
    int refused = 0;
    for (int p = 0; p < 20000; ++p) {
        std::string pattern;
        for (unsigned n = 1 + g.below(8); n > 0; --n) pattern += g.pick(parts);
        regex_t r;
        const int code = regcomp(&r, pattern.c_str(), REG_EXTENDED);
        if (code == 0) {
            regfree(&r);
            continue;
        }
        ++refused;
        std::string error;
        EXPECT_FALSE(matcher_compile(pattern.c_str(), &error)) << pattern;
        EXPECT_FALSE(error.empty()) << pattern;
    }
    EXPECT_GT(refused, 1000);
}

}  // namespace
}  // namespace tolvane
