#include "terminal/watch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "terminal/matcher.h"

namespace tolvane {
namespace {

// A command line's steps: "e:" --expect, "f:" --fail, "s:" --send.
void set_up(watch_state& w, const std::vector<std::string>& options) {
    watch_clear(w);
    std::string error;
    for (const std::string& o : options) {
        const char* value = o.c_str() + 2;
        const bool ok = o[0] == 'e' ? watch_add_expect(w, value, &error)
                        : o[0] == 'f' ? watch_add_fail(w, value, &error)
                                      : watch_add_send(w, value);
        ASSERT_TRUE(ok) << o << ": " << error;
    }
    watch_begin(w);
}

std::string take_sends(watch_state& w) {
    std::string sent;
    for (int b; (b = watch_take_send(w)) >= 0;) sent += static_cast<char>(b);
    return sent;
}

// Each chunk as one read: its bytes, then the line is quiet. Sends that
// fell due go into *sent, marked where they came.
void feed(watch_state& w, const std::vector<std::string>& chunks, std::string* sent) {
    for (const std::string& chunk : chunks) {
        for (char c : chunk) watch_put(w, static_cast<unsigned char>(c));
        watch_line_quiet(w);
        const std::string due = take_sends(w);
        if (!due.empty()) *sent += "[" + due + "]";
    }
}

const char* name(watch_result r) {
    return r == watch_result::passed ? "passed" : r == watch_result::failed ? "failed" : "running";
}

struct RunCase {
    const char* what;
    std::vector<std::string> options;
    std::vector<std::string> chunks;
    watch_result outcome;
    std::string failed_line = {};  // when failed
    std::string sends = {};        // after the start, "[text]" each time some fell due
};

TEST(Watch, DecidesByTheLinesInOrder) {
    const std::vector<RunCase> cases = {
        {"expects in order", {"e:^boot$", "e:PASS"}, {"PASS\r\nboot\r\n", "x PASS\r\n"}, watch_result::passed},
        {"not before the last", {"e:one", "e:two"}, {"one\r\n", "three\r\n"}, watch_result::running},
        {"order within a line", {"e:A", "e:B"}, {"B A\n"}, watch_result::running},
        {"two in one line", {"e:A", "e:B"}, {"A B\n"}, watch_result::passed},
        {"fail after an expect", {"e:start", "e:PASS", "f:FAIL"}, {"start\r\n", "test 2 FAIL\r\n", "PASS\r\n"},
         watch_result::failed, "test 2 FAIL"},
        {"fail wins over the last expect", {"e:PASS", "f:FAIL"}, {"PASS but FAIL\n"}, watch_result::failed,
         "PASS but FAIL"},
        {"pattern split across reads", {"e:PASS"}, {"PA", "SS\r\n"}, watch_result::passed},
        {"unfinished line matches", {"e:sim> "}, {"\r\nsim> "}, watch_result::passed},
        {"no $ before the line ends", {"e:^PASS$"}, {"PASS"}, watch_result::running},
        {"$ before CR LF", {"e:^PASS$"}, {"PASS", "\r\n"}, watch_result::passed},
        {"fail on an unfinished line", {"e:PASS", "f:panic"}, {"kernel panic - "}, watch_result::failed,
         "kernel panic - "},
        {"no patterns, never decided", {"s:go\\r"}, {"PASS\n"}, watch_result::running},
        {"fail alone", {"f:^Error [0-9]+$"}, {"Error 7 here\n", "Error 42\r\n"}, watch_result::failed, "Error 42"},
        {"NUL left out", {"e:AB"}, {std::string("A\0B\n", 4)}, watch_result::passed},
        {"a prompt's text is not matched twice", {"e:sim> ", "s:run\\r", "e:sim> ", "s:x"},
         {"sim> ", "run\r\n"}, watch_result::running, "", "[run\r]"},
        {"send after its expect only", {"s:a", "e:login:", "s:root\\r", "e:# ", "s:exit\\r"},
         {"boot\r\n", "login:", " root\r\n# "}, watch_result::passed, "", "[root\r][exit\r]"},
    };
    watch_state w;
    for (const RunCase& c : cases) {
        set_up(w, c.options);
        take_sends(w);
        std::string sent;
        feed(w, c.chunks, &sent);
        EXPECT_STREQ(name(watch_outcome(w)), name(c.outcome)) << c.what;
        if (c.outcome == watch_result::failed) {
            EXPECT_EQ(watch_failed_line(w), c.failed_line) << c.what;
        }
        EXPECT_EQ(sent, c.sends) << c.what;
    }
}

TEST(Watch, TextsBeforeTheFirstExpectAreDueAtTheStart) {
    watch_state w;
    set_up(w, {"s:\\x03reset\\n", "s:go", "e:>", "s:later"});
    EXPECT_EQ(watch_sends_due(w), 9u);
    EXPECT_EQ(take_sends(w), "\x03reset\ngo");
    EXPECT_EQ(watch_sends_due(w), 0u);
}

TEST(Watch, TheOutcomeStays) {
    watch_state w;
    set_up(w, {"e:PASS", "f:FAIL"});
    std::string sent;
    feed(w, {"PASS\n", "FAIL\n"}, &sent);
    EXPECT_EQ(watch_outcome(w), watch_result::passed);
}

// A board that prints megabytes without a newline: kept to parts of
// WATCH_LINE_MAX, each an unfinished line; ^ holds at the line's start only.
TEST(Watch, AnEndlessLineIsMatchedInParts) {
    watch_state w;
    set_up(w, {"e:^x", "e:^PASS", "e:DONE"});
    std::string sent;
    feed(w, {"x" + std::string(1000000, '.') + "PASS"}, &sent);
    EXPECT_EQ(watch_outcome(w), watch_result::running) << "^ matched inside the line";
    feed(w, {"\nPASS DONE\n"}, &sent);
    EXPECT_EQ(watch_outcome(w), watch_result::passed);

    set_up(w, {"e:PASS"});
    feed(w, {std::string(3 * WATCH_LINE_MAX + 10, '-') + "PASS"}, &sent);
    EXPECT_EQ(watch_outcome(w), watch_result::passed) << "in a later part";
}

TEST(Watch, BadPatternsAreRefusedWithTheReason) {
    watch_state w;
    std::string error;
    EXPECT_FALSE(watch_add_expect(w, "(unclosed", &error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(watch_add_fail(w, "[z-a]", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(watch_has_patterns(w));
    EXPECT_FALSE(watch_add_send(w, "bad \\q"));
}

// Counted repetitions multiply the engine's work; a pattern that would grow
// past the limit, or repeats a repetition, is refused with the reason.
TEST(Watch, PatternsThatWouldBlowUpAreRefused) {
    struct Case {
        const char* pattern;
        bool fits;
    } cases[] = {
        {"PASS", true},
        {"^FAILED: [0-9]+ tests?$|kernel panic", true},
        {"[0-9]{1,3}(\\.[0-9]{1,3}){3}", true},
        {"(.{250}){20}", true},
        {"(a|b)*c+[{]x\\{", true},
        {".{20000}", false},
        {"(a{1,255}){1,255}", false},
        {"((a{1,255}){1,255}){1,255}", false},
        {"(x{100}|y){100}", false},
        {"a++", false},
        {"a*+", false},
        {"(ab){2}*", false},
        {"x+++++++++++", false},
    };
    watch_state w;
    for (const auto& c : cases) {
        watch_clear(w);
        std::string why;
        EXPECT_EQ(watch_add_expect(w, c.pattern, &why), c.fits) << c.pattern;
        EXPECT_EQ(why.empty(), c.fits) << c.pattern << ": " << why;
    }
}

TEST(Watch, SendTextEscapes) {
    const struct {
        const char* text;
        bool ok;
        std::string bytes;
    } cases[] = {
        {"run\\r", true, "run\r"},
        {"a\\nb\\tc\\\\d", true, "a\nb\tc\\d"},
        {"\\x41\\x4a\\x7", true, "AJ\x07"},
        {"\\x1G", true, "\x01G"},
        {"\\x00z", true, std::string("\0z", 2)},
        {"\\xff", true, "\xff"},
        {"", true, ""},
        {"\\x", false, ""},
        {"\\e", false, ""},
        {"end\\", false, ""},
    };
    for (const auto& c : cases) {
        std::string bytes;
        EXPECT_EQ(unescape_text(c.text, &bytes), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(bytes, c.bytes) << c.text;
        }
    }
}

TEST(Watch, RequiredLiteralsAreFoundOnlyWhereEveryMatchHoldsThem) {
    using L = std::vector<std::string>;
    const struct {
        const char* pattern;
        L literals;
    } cases[] = {
        {"PASS", {"PASS"}},
        {"^ALL TESTS PASSED$", {"ALL TESTS PASSED"}},
        {"FAIL|panic", {"FAIL", "panic"}},
        {"FAIL|.*", {}},
        {"[0-9]+ tests? passed", {" passed"}},
        {"colou?r", {"colo"}},
        {"ab+c", {"ab"}},
        {"ab{2}cd", {"cd"}},
        {"x\\.y\\*", {"x.y*"}},
        {"\\<word\\>", {"word"}},
        {"\\bPASS\\b", {"PASS"}},
        {"\\w+ ok|\\s*FAIL", {" ok", "FAIL"}},
        {"a\\-b\\/c\\d", {"a-b/c"}},
        {"(a|b)cde", {"cde"}},
        {"(x|y)|z", {}},
        {"[]|x]yz", {"yz"}},
        {"[[:alpha:]|]+ok", {"ok"}},
        {"a.b", {"a"}},
        {"", {}},
        {"x*", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(required_literals(c.pattern), c.literals) << c.pattern;
}

// Against the engine itself: a line the engine matches holds one of the
// pattern's literals.
TEST(Watch, EveryMatchHoldsARequiredLiteral) {
    const char* patterns[] = {"colou?r", "ab+c",    "FAIL|panic", "[]|x]yz", "x\\.y\\*",
                              "(a|b)cde", "ab{2}cd", "\\w+ ok|\\s*FAIL", "a\\-b\\/c\\d"};
    const char* lines[] = {"color", "colour", "abbbc", "xx panic", "]yz",  "|yz",
                           "x.y*",  "bcde",   "abbcd", "FAIL",     "a ok", "a-b/c7"};
    for (const char* p : patterns) {
        std::string error;
        const matcher_ptr m = matcher_compile(p, &error);
        ASSERT_TRUE(m) << p << ": " << error;
        const std::vector<std::string> literals = required_literals(p);
        for (const std::string line : lines) {
            size_t end;
            if (!matcher_find(*m, line.c_str(), 0, line.size(), true, true, &end)) continue;
            bool holds = literals.empty();
            for (const std::string& l : literals) holds = holds || line.find(l) != std::string::npos;
            EXPECT_TRUE(holds) << p << " matches " << line;
        }
    }
}

TEST(Matcher, FindsTheLeftmostMatchBehindAPosition) {
    std::string error;
    const matcher_ptr m = matcher_compile("^a+", &error);
    ASSERT_TRUE(m) << error;
    const std::string text = "aab aa";
    size_t end = 0;
    EXPECT_TRUE(matcher_find(*m, text.c_str(), 0, text.size(), true, true, &end));
    EXPECT_EQ(end, 2u);
    EXPECT_FALSE(matcher_find(*m, text.c_str(), 4, text.size(), false, true, &end)) << "^ inside the line";
    const matcher_ptr tail = matcher_compile("a$", &error);
    EXPECT_TRUE(matcher_find(*tail, text.c_str(), 3, text.size(), false, true, &end));
    EXPECT_EQ(end, 6u);
    EXPECT_FALSE(matcher_find(*tail, text.c_str(), 3, text.size(), false, false, &end)) << "$ before the end";
}

}  // namespace
}  // namespace tolvane
