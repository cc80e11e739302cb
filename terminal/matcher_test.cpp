#include "terminal/matcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/keys.h"
#include "base/settings.h"
#include "base/time_limit.h"

namespace tolvane {
namespace {

// Where the text stands in its line: LINE a whole line, NOT_START one that
// began before the text, NOT_END one that goes on after it, PART both.
enum place { LINE, NOT_START, NOT_END, PART };

constexpr int NONE = -1;

struct FindCase {
    const char* pattern;
    std::string text;
    place where;
    int end;  // just past the match, NONE for no match
    size_t from = 0;
};

TEST(Matcher, FindsWhatPosixFindsAndWhereItEnds) {
    const std::vector<FindCase> cases = {
        // Literals, case-sensitive, byte by byte.
        {"PASS", "all PASS here", LINE, 8},
        {"pass", "PASS", LINE, NONE},
        {"", "abc", LINE, 0},
        {"x*", "abc", LINE, 0},
        {"a.c", "xa-c", LINE, 4},
        {"^.$", "\xc3\xa9", LINE, NONE},
        {"^..$", "\xc3\xa9", LINE, 2},
        {"\xc3\xa9+", "\xc3\xa9\xc3\xa9", LINE, 2},
        {"(\xc3\xa9)+", "\xc3\xa9\xc3\xa9", LINE, 4},
        // The GNU escapes.
        {"\\bPASS\\b", "PASS", LINE, 4},
        {"\\bPASS\\b", "a PASS.", LINE, 6},
        {"\\bPASS\\b", "PASSED", LINE, NONE},
        {"\\bPASS\\b", "xPASS", LINE, NONE},
        {"\\bPASS\\b", "PASS_1 PASS", LINE, 11},
        {"\\w+ ok", "test_1 ok", LINE, 9},
        {"\\w+ ok", "- ok", LINE, NONE},
        {"\\s*PASS", "  PASS", LINE, 6},
        {"\\s*PASS", "\t\r\vPASS", LINE, 7},
        {"\\s*PASS", "PASS", LINE, 4},
        {"\\S+", "  ab c", LINE, 4},
        {"\\W", "ab-c", LINE, 3},
        {"\\d+", "x42y", LINE, 3},
        {"\\D+", "42xy", LINE, 4},
        {"\\<ok\\>", "ok", LINE, 2},
        {"\\<ok\\>", "book", LINE, NONE},
        {"\\<ok\\>", "is ok!", LINE, 5},
        {"\\Bok", "book", LINE, 4},
        {"\\Bok", "ok", LINE, NONE},
        {"a\\B", "a", LINE, NONE},
        {"\\B", "", LINE, 0},
        // Escaped punctuation is itself; in brackets a backslash is itself.
        {"x\\.y\\*", "x.y*", LINE, 4},
        {"a\\{2\\}", "a{2}", LINE, 4},
        {"\\(x\\)\\|", "(x)|", LINE, 4},
        {"\\-\\/\\_\\:", "-/_:", LINE, 4},
        {"[\\w]+", "w\\w", LINE, 3},
        // Bracket expressions.
        {"[[:digit:]]+", "abc 123 4", LINE, 7},
        {"[[:alpha:]_][[:alnum:]_]*", "1 x_2 y", LINE, 5},
        {"[[:upper:][:digit:]]+", "ab C3d", LINE, 5},
        {"[[:space:]]", "a\tb", LINE, 2},
        {"[[:punct:]]", "ab,c", LINE, 3},
        {"[[:xdigit:]]+", "x1fG", LINE, 3},
        {"[]a]+", "]a]x", LINE, 3},
        {"[^]a]", "]ab", LINE, 3},
        {"[a-]+", "-a-b", LINE, 3},
        {"[--/]+", "-./0", LINE, 3},
        {"[[.-.]a]+", "a-b", LINE, 2},
        {"[[=a=]b]+", "abc", LINE, 2},
        {"[^a]", "a\xc3\xa9", LINE, 2},
        {"[^[:alnum:]]", "ab c", LINE, 3},
        {"[a-c]{2}", "xbcy", LINE, 3},
        // Alternation: the leftmost match, and the longest of those.
        {"FAIL|panic", "kernel panic", LINE, 12},
        {"a|ab|abc", "abcd", LINE, 3},
        {"(a|ab)(c|bcd)", "abcd", LINE, 4},
        {"b|abc", "abc", LINE, 3},
        {"bc|abcd", "xabcd", LINE, 5},
        {"x(a|)y", "xy", LINE, 2},
        {"|a", "a", LINE, 1},
        {"(a|b)*c|(a|ab)*c", "abc", LINE, 3},
        {"^FAILED: [0-9]+ tests?$|kernel panic", "FAILED: 3 tests", LINE, 15},
        // Anchors, as the text stands in its line.
        {"^PASS$", "PASS", LINE, 4},
        {"^PASS$", "PASS", NOT_END, NONE},
        {"^PASS$", "PASS", NOT_START, NONE},
        {"^PASS", "PASS", NOT_END, 4},
        {"PASS$", "PASS", NOT_START, 4},
        {"^", "abc", NOT_START, NONE},
        {"$", "abc", LINE, 3},
        {"$", "abc", NOT_END, NONE},
        {"a^b", "a^b", LINE, NONE},
        {"a$b", "a$b", LINE, NONE},
        {"(^a|b)+", "aab", LINE, 1},
        {"(^|x)y", "xy", NOT_START, 2},
        {"^a+", "aab aa", NOT_START, NONE, 4},
        {"a$", "aab aa", NOT_START, 6, 3},
        // \b and its kin see the byte before `from`, and no unknown byte.
        {"\\<b", "ab", NOT_START, NONE, 1},
        {"\\<b", " b", NOT_START, 2, 1},
        {"\\<b", "b", LINE, 1},
        {"\\<b", "b", NOT_START, NONE},
        {"PASS\\b", "PASS", NOT_END, NONE},
        {"PASS\\b", "PASS ", NOT_END, 4},
        {"PASS\\>", "PASS", LINE, 4},
        {"PASS\\B", "PASS", NOT_END, NONE},
        {"\\bPASS", "PASS", PART, NONE},
        // Repetitions: counted, nested, of groups that can be empty.
        {"((ab){2}c){1,2}", "ababcababc", LINE, 10},
        {"((ab){2}c){1,2}", "ababcabc", LINE, 5},
        {"(a(b|c){2,3}){2}", "abcbacb", LINE, 7},
        {"[0-9]{1,3}(\\.[0-9]{1,3}){3}", "ip 192.168.1.10 ok", LINE, 15},
        {"x{0}y", "xy", LINE, 2},
        {"(ab){0,}c", "ababc", LINE, 5},
        {"a{,2}", "aaa", LINE, 2},
        {"a{2,}", "a aaaa", LINE, 6},
        {"(a|b){3}", "abab", LINE, 3},
        {"colou?r", "colour", LINE, 6},
        {"(a*)*b", "aaab", LINE, 4},
        {"(a*)+$", "aa", LINE, 2},
        {"(a*)(a*)(a*)b$", "aaab", LINE, 4},
        {"()", "a", LINE, 0},
        {"(^)*a", "ba", LINE, 2},
        {"(|a)+b", "aab", LINE, 3},
        {"a}", "a}", LINE, 2},
        {"(x+x+)+y", "xxxy", LINE, 4},
        {"(x+x+)+y", "xxx", LINE, NONE},
        {"(a|aa)*c", "aaac", LINE, 4},
        // Where the C library errs: an anchor in a repeated group.
        {"(|A^a)+", "Aa", LINE, 0},
        {"(|\\>.){2}\\W", " .cc", LINE, 1},
        // and \B after a repetition.
        {"a*\\B", "ca..", LINE, 1},
        {"\\s*\\B", "b. _", LINE, 2},
    };
    for (const FindCase& c : cases) {
        std::string error;
        const matcher_ptr m = matcher_compile(c.pattern, &error);
        ASSERT_TRUE(m) << c.pattern << ": " << error;
        size_t end = 12345;
        const bool at_line_start = c.where == LINE || c.where == NOT_END;
        const bool at_line_end = c.where == LINE || c.where == NOT_START;
        const bool found = matcher_find(*m, c.text.c_str(), c.from, c.text.size(), at_line_start, at_line_end, &end);
        EXPECT_EQ(found, c.end != NONE) << "/" << c.pattern << "/ on \"" << c.text << "\" (" << c.where << ")";
        if (found && c.end != NONE) {
            EXPECT_EQ(end, static_cast<size_t>(c.end)) << "/" << c.pattern << "/ on \"" << c.text << "\"";
        }
    }
}

TEST(Matcher, RefusesWithTheReason) {
    const struct {
        std::string pattern;
        const char* reason;
    } cases[] = {
        {"(a*)\\1", "back-references are not supported"},
        {"(a*)(a*)(a*)\\3\\2\\1b$", "back-references are not supported"},
        {"x\\9", "back-references are not supported"},
        {"(unclosed", "unmatched ("},
        {"((a)|b", "unmatched ("},
        {"a)", "unmatched )"},
        {"(a))", "unmatched )"},
        {"[abc", "unmatched ["},
        {"[]", "unmatched ["},
        {"[^]", "unmatched ["},
        {"[[:alpha:]", "unmatched ["},
        {"[[.a", "unmatched ["},
        {"*a", "a repetition with nothing before it"},
        {"a|*b", "a repetition with nothing before it"},
        {"(*a)", "a repetition with nothing before it"},
        {"(+)", "a repetition with nothing before it"},
        {"?", "a repetition with nothing before it"},
        {"{1}", "a repetition with nothing before it"},
        {"^*", "a repetition with nothing before it"},
        {"x$?", "a repetition with nothing before it"},
        {"\\b+", "a repetition with nothing before it"},
        {"a\\<{2}", "a repetition with nothing before it"},
        {"a**", "a repetition of a repetition"},
        {"a*+", "a repetition of a repetition"},
        {"a{2}*", "a repetition of a repetition"},
        {"a{1}{2}", "a repetition of a repetition"},
        {"(ab){2}*", "a repetition of a repetition"},
        {"x+++++++++++", "a repetition of a repetition"},
        {"a{", "unmatched {"},
        {"a{1,2", "unmatched {"},
        {"a{x}", "bad braces"},
        {"a{}", "bad braces"},
        {"a{ 1}", "bad braces"},
        {"a{1,2,3}", "bad braces"},
        {"a{-1}", "bad braces"},
        {"a{3,2}", "bad braces"},
        {"a{256}", "a repetition count above 255"},
        {"a{1,300}", "a repetition count above 255"},
        {".{20000}", "a repetition count above 255"},
        {"a{99999999999}", "a repetition count above 255"},
        {"[z-a]", "invalid range end"},
        {"[a-c-e]", "invalid range end"},
        {"[[:alpha:]-z]", "invalid range end"},
        {"[a-[:alpha:]]", "invalid range end"},
        {"[[=a=]-z]", "invalid range end"},
        {"[[:nope:]]", "unknown character class [:nope:]"},
        {"[[:ALPHA:]]", "unknown character class [:ALPHA:]"},
        {"[[.ab.]]", "unknown collating element [.ab.]"},
        {"[[.space.]]", "unknown collating element [.space.]"},
        {"a\\", "a trailing backslash"},
        {"\\n", "unknown escape \\n"},
        {"\\t", "unknown escape \\t"},
        {"\\0", "unknown escape \\0"},
        {"(a{1,255}){1,255}", "larger than 10000 atoms"},
        {"((a{1,255}){1,255}){1,255}", "larger than 10000 atoms"},
        {"(x{100}|y){100}", "larger than 10000 atoms"},
        {std::string(10001, 'a'), "larger than 10000 atoms"},
        {std::string(256, '(') + std::string(256, ')'), "groups nested deeper than 255"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(matcher_compile(c.pattern.c_str(), &error)) << c.pattern;
        EXPECT_EQ(error.substr(0, std::string(c.reason).size()), c.reason) << c.pattern << ": " << error;
    }
    // Just inside the limits.
    for (const std::string& ok : {std::string("a{255}"), std::string("(.{250}){40}"), std::string(10000, 'a'),
                                 std::string(255, '(') + std::string(255, ')')}) {
        std::string error;
        EXPECT_TRUE(matcher_compile(ok.c_str(), &error)) << ok.substr(0, 40) << ": " << error;
    }
}

// What backtracking engines take minutes for: each search ends, and its
// steps grow with the text as the text does (a line twice as long, twice
// the steps, give or take the start).
TEST(Matcher, PathologicalPatternsTakeTimeInProportionToTheText) {
    const struct {
        const char* pattern;
        char fill;
        const char* tail;  // makes it match
    } cases[] = {
        {"(a*)(a*)(a*)b$", 'a', "b"},
        {"(a|aa)*c", 'a', "c"},
        {"(x+x+)+y", 'x', "y"},
        {"(a*)*b", 'a', "b"},
        {"(.*)(.*)(.*)(.*)(.*)z", 'q', "z"},
        {"(a?){25}a{25}$", 'a', ""},
        {"(\\w+\\s?)+$", 'w', ""},
    };
    for (const auto& c : cases) {
        std::string error;
        const matcher_ptr m = matcher_compile(c.pattern, &error);
        ASSERT_TRUE(m) << c.pattern << ": " << error;
        size_t steps[2];
        for (int half = 0; half < 2; ++half) {
            const std::string text(half == 0 ? 2048 : 4096, c.fill);
            size_t end;
            const bool found = matcher_find(*m, text.c_str(), 0, text.size(), true, true, &end);
            EXPECT_EQ(found, *c.tail == '\0') << c.pattern;
            steps[half] = matcher_last_steps();
        }
        EXPECT_LE(steps[1], 2 * steps[0] + 1000) << c.pattern << ": " << steps[0] << " then " << steps[1];
        EXPECT_LE(steps[1], 3 * 4097 * matcher_size(*m)) << c.pattern;
        const std::string text = std::string(4095 - std::string(c.tail).size(), c.fill) + c.tail;
        size_t end = 0;
        EXPECT_TRUE(matcher_find(*m, text.c_str(), 0, text.size(), true, true, &end)) << c.pattern;
        EXPECT_EQ(end, text.size()) << c.pattern;
    }
}

// The largest pattern on the longest line: bounded by both sizes.
TEST(Matcher, TheWorstCaseIsBoundedByTheSizes) {
    std::string error;
    const matcher_ptr m = matcher_compile("(.{248}x?){40}", &error);
    ASSERT_TRUE(m) << error;
    const std::string text(4096, '.');
    size_t end;
    EXPECT_FALSE(matcher_find(*m, text.c_str(), 0, text.size(), true, true, &end));
    EXPECT_EQ(matcher_size(*m), MATCHER_SIZE_MAX + 1);
    EXPECT_LE(matcher_last_steps(), 3 * (text.size() + 1) * matcher_size(*m));
}

// Ctrl-Q or the --timeout ends a search in progress: no match, so the
// terminal loop sees the flag next.
TEST(Matcher, AnEndingRunEndsTheSearch) {
    std::string error;
    const matcher_ptr m = matcher_compile("(x+x+)+y", &error);
    ASSERT_TRUE(m) << error;
    const std::string text = std::string(4095, 'x') + "y";
    size_t end;

    key_queue keys;  // its reset takes the quit flag back too
    keys_reset(keys);
    request_quit();
    EXPECT_FALSE(matcher_find(*m, text.c_str(), 0, text.size(), true, true, &end)) << "Ctrl-Q";
    EXPECT_LT(matcher_last_steps(), 5u * 4096) << "gave up late";
    keys_reset(keys);
    EXPECT_TRUE(matcher_find(*m, text.c_str(), 0, text.size(), true, true, &end));

    const double saved = time_limit_seconds();
    time_limit_start(1e-9);
    EXPECT_FALSE(matcher_find(*m, text.c_str(), 0, text.size(), true, true, &end)) << "time-out";
    time_limit_start(0);
    EXPECT_TRUE(matcher_find(*m, text.c_str(), 0, text.size(), true, true, &end));
    time_limit_start(saved);
}

// One compiled pattern, many searches: nothing of one is left for the next.
TEST(Matcher, SearchesAreIndependent) {
    std::string error;
    const matcher_ptr m = matcher_compile("(ab|a)(bc|c)?d?", &error);
    ASSERT_TRUE(m) << error;
    for (int round = 0; round < 3; ++round) {
        for (const auto& [text, want] : std::vector<std::pair<std::string, size_t>>{
                 {"abcd", 4}, {"xa", 2}, {"acd", 3}, {"zzab", 4}}) {
            size_t end = 0;
            ASSERT_TRUE(matcher_find(*m, text.c_str(), 0, text.size(), true, true, &end)) << text;
            EXPECT_EQ(end, want) << text;
        }
    }
}

}  // namespace
}  // namespace tolvane
