#include <direct.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "fileservice/find.h"

namespace tolvane {

namespace {

// The fixture's folder, made afresh in the temporary directory.
std::string temporary_folder() {
    const char* temp = std::getenv("TEMP");
    return std::string(temp && *temp ? temp : ".") + "\\tolvane-find-win32-test";
}
const std::string kDir = temporary_folder();

void make_file(const std::string& name, const std::string& content) {
    FILE* f = std::fopen((kDir + "\\" + name).c_str(), "wb");
    ASSERT_NE(f, nullptr) << name;
    std::fputs(content.c_str(), f);
    std::fclose(f);
}

class FindWin32 : public testing::Test {
protected:
    void SetUp() override {
        std::system(("rmdir /s /q \"" + kDir + "\" 2>nul").c_str());
        ASSERT_EQ(_mkdir(kDir.c_str()), 0);
        make_file("a.txt", "1234");
        make_file("B.TXT", "");
        make_file("averyveryverylongname.txt", "xy");
        make_file("c.dat", "");
        ASSERT_EQ(_mkdir((kDir + "\\sub.txt").c_str()), 0);
    }

    // Names of all records find first/next give for pattern; the last result
    // in *end.
    std::set<std::string> list(const std::string& pattern, int* end) {
        std::set<std::string> names;
        find_record record{};
        int result = find_first((kDir + "\\" + pattern).c_str(), &record);
        while (result == 0) {
            names.insert(record.name);
            records[record.name] = record;
            result = find_next(&record);
        }
        *end = result;
        return names;
    }

    std::map<std::string, find_record> records;
};

}  // namespace

TEST_F(FindWin32, ListsEveryMatchCaseInsensitiveThenEndsWithMinusOne) {
    int end = 0;
    EXPECT_EQ(list("*.txt", &end), (std::set<std::string>{"a.txt", "B.TXT", "averyveryvery", "sub.txt"}));
    EXPECT_EQ(end, -1);
    EXPECT_EQ(list("?.TXT", &end), (std::set<std::string>{"a.txt", "B.TXT"}));
    EXPECT_EQ(end, -1);
    // The search ran out and was closed: find next stays at the end.
    find_record record{};
    EXPECT_EQ(find_next(&record), -1);
}

TEST_F(FindWin32, NoMatchAnswersOne) {
    find_record record{};
    EXPECT_EQ(find_first((kDir + "\\*.none").c_str(), &record), 1);
    EXPECT_EQ(find_next(&record), -1);
    EXPECT_EQ(find_first("no-such-directory\\*", &record), 1);
}

TEST_F(FindWin32, RecordsCarryTheEntrysAttributesSizeAndTime) {
    int end = 0;
    list("*", &end);
    ASSERT_EQ(records.count("a.txt"), 1u);
    const find_record& file = records["a.txt"];
    EXPECT_EQ(file.size, 4u);
    EXPECT_EQ(file.attributes & DOS_ATTR_DIRECTORY, 0);
    struct _stat st;
    ASSERT_EQ(_stat((kDir + "\\a.txt").c_str(), &st), 0);
    const uint32_t when = dos_datetime(st.st_mtime);
    EXPECT_EQ(file.time, when & 0xFFFF);
    EXPECT_EQ(file.date, when >> 16);

    ASSERT_EQ(records.count("sub.txt"), 1u);
    EXPECT_EQ(records["sub.txt"].attributes & DOS_ATTR_DIRECTORY, DOS_ATTR_DIRECTORY);
    EXPECT_EQ(records["averyveryvery"].size, 2u);
    // "." and ".." are the run-time's entries too, and passed on.
    EXPECT_EQ(records.count("."), 1u);
}

TEST_F(FindWin32, AnotherFindFirstStartsOver) {
    find_record record{};
    ASSERT_EQ(find_first((kDir + "\\c.dat").c_str(), &record), 0);
    EXPECT_STREQ(record.name, "c.dat");
    ASSERT_EQ(find_first((kDir + "\\a.*").c_str(), &record), 0);
    EXPECT_STREQ(record.name, "a.txt");
    EXPECT_EQ(find_next(&record), -1);
}

}  // namespace tolvane
