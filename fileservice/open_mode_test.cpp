#include "fileservice/open_mode.h"

#include <gtest/gtest.h>

using namespace tolvane;

TEST(OpenMode, TakesTheStandardModesInAnyOrder) {
    for (const char* mode : {"r", "w", "a", "rb", "r+", "w+b", "wb+", "a+t", "wx", "w+x", "wbx", "xw"}) {
        const bool expected = mode[0] != 'x';
        EXPECT_EQ(open_mode_parse(mode).valid, expected) << mode;
    }
    const open_mode r = open_mode_parse("rb");
    EXPECT_TRUE(r.reads);
    EXPECT_FALSE(r.writes);
    const open_mode w = open_mode_parse("wx");
    EXPECT_TRUE(w.writes && w.truncates && w.exclusive);
    EXPECT_FALSE(w.reads);
    const open_mode a = open_mode_parse("a+");
    EXPECT_TRUE(a.reads && a.writes && a.appends);
    EXPECT_FALSE(a.truncates);
    EXPECT_TRUE(open_mode_parse("r+").writes);
}

TEST(OpenMode, RefusesExtensionsRepeatsAndStrayLetters) {
    for (const char* mode : {"", "+", "b", "w,ccs=UTF-8", "re", "rm", "rc", "r++", "rbb", "rtt", "rx", "ax",
                             "wxx", "r ", "R", "rw", "w+r"}) {
        EXPECT_FALSE(open_mode_parse(mode).valid) << '"' << mode << '"';
    }
}
