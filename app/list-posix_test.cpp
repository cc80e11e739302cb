// --list against made-up machines (tests/fake_sysfs.h): what is shown,
// what is left out, in which order.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <string>

#include "app/list.h"
#include "tests/fake_sysfs.h"

namespace tolvane {

namespace {

std::string fresh_root() {
    char name[] = "/tmp/tolvane-list-XXXXXX";
    if (mkdtemp(name) == nullptr) std::abort();
    return name;
}

void remove_tree(const std::string& root) {
    const std::string command = "rm -rf '" + root + "'";
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << command;
}

class ListLines : public testing::Test {
protected:
    void SetUp() override {
        root = fresh_root();
        setenv("TOLVANE_TEST_ROOT", root.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("TOLVANE_TEST_ROOT");
        remove_tree(root);
    }
    std::string root;
};

}  // namespace

TEST_F(ListLines, FindsTheLinesWithWhatSysfsKnowsAndLeavesOutTheRest) {
    fake_sysfs::make_machine(root);
    std::vector<std::pair<std::string, std::string>> found;
    for (const serial_line& line : find_serial_lines()) found.emplace_back(line.name, line.about);
    EXPECT_EQ(found, fake_sysfs::machine_lines());
}

TEST_F(ListLines, NothingThereIsSaidAndStillSucceeds) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(list_serial_lines(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "no serial lines found\n");
}

TEST(NaturalOrder, CountsNumbersByValue) {
    const char* const ordered[] = {"COM1", "COM2", "COM10", "ttyACM0", "ttyS", "ttyS02", "ttyS3", "ttyS10", "ttyS10a",
                                   "ttyUSB0"};
    for (size_t i = 0; i < std::size(ordered); ++i) {
        for (size_t j = 0; j < std::size(ordered); ++j)
            EXPECT_EQ(natural_less(ordered[i], ordered[j]), i < j) << ordered[i] << " / " << ordered[j];
    }
}

}  // namespace tolvane
