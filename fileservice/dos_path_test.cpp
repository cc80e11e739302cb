#include "fileservice/dos_path.h"

#include <gtest/gtest.h>

#include <string>

using namespace tolvane;

namespace {

std::string converted(std::string name) {
    dos_path_to_host(name.data());
    return name.c_str();
}

std::string name_part(std::string path) { return path_name_part(path.data()); }

}  // namespace

TEST(DosPath, DropsTheDriveAndTurnsBackslashes) {
    EXPECT_EQ(converted("C:\\TMP\\X.DAT"), "/TMP/X.DAT");
    EXPECT_EQ(converted("C:\\SRC\\MAIN.C"), "/SRC/MAIN.C");
    EXPECT_EQ(converted("C:*.*"), "*.*");
    EXPECT_EQ(converted("d:sub\\a.c"), "sub/a.c");
    // Without a drive prefix nothing changes, backslashes included.
    EXPECT_EQ(converted("sub\\a.c"), "sub\\a.c");
    EXPECT_EQ(converted("a"), "a");
    EXPECT_EQ(converted(""), "");
    EXPECT_EQ(converted("C:"), "");
}

TEST(PathNamePart, FollowsTheLastSeparator) {
    EXPECT_EQ(name_part("src/*.c"), "*.c");
    EXPECT_EQ(name_part("*.c"), "*.c");
    EXPECT_EQ(name_part("a\\b\\c.txt"), "c.txt");
    EXPECT_EQ(name_part("C:x"), "x");
    EXPECT_EQ(name_part("dir/"), "");
    EXPECT_EQ(name_part(""), "");
    // "." and ".." are directories, never name parts.
    EXPECT_EQ(name_part("sub/."), "");
    EXPECT_EQ(name_part(".."), "");
    EXPECT_EQ(name_part("a/..b"), "..b");

    std::string path = "sub/.";
    EXPECT_EQ(path_name_part(path.data()), path.data() + path.size());
}
