// The POSIX search's own state: what find_end leaves behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "fileservice/find.h"

namespace tolvane {

namespace {

// The number the next descriptor would get: one held open shows here.
int lowest_free_descriptor() {
    const int fd = dup(STDERR_FILENO);
    if (fd >= 0) close(fd);
    return fd;
}

class FindEnd : public testing::Test {
protected:
    void SetUp() override {
        char name[] = "find-end-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        for (const char* file : {"/a.c", "/b.c"}) {
            const int fd = open((dir + file).c_str(), O_CREAT | O_WRONLY, 0644);
            ASSERT_GE(fd, 0);
            close(fd);
        }
    }
    void TearDown() override {
        find_end();
        std::remove((dir + "/a.c").c_str());
        std::remove((dir + "/b.c").c_str());
        rmdir(dir.c_str());
    }
    std::string dir;
};

}  // namespace

TEST_F(FindEnd, FindNextAnswersAsBeforeAnySearch) {
    find_record record{};
    ASSERT_EQ(find_first((dir + "/*.c").c_str(), &record), 0);
    find_end();
    EXPECT_EQ(find_next(&record), -1);  // b.c is left, but the search is over
}

TEST_F(FindEnd, LetsTheDirectoryGo) {
    const int before = lowest_free_descriptor();
    find_record record{};
    ASSERT_EQ(find_first((dir + "/*.c").c_str(), &record), 0);
    EXPECT_NE(lowest_free_descriptor(), before);  // the search holds its directory
    find_end();
    EXPECT_EQ(lowest_free_descriptor(), before);
    find_end();  // with no search: nothing to do
    EXPECT_EQ(find_next(&record), -1);
}

}  // namespace tolvane
