// --list on a made-up machine (tests/fake_sysfs.h): what is shown, what is
// left out, in which order.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "app/list.h"
#include "base/serial_lines.h"
#include "tests/fake_sysfs.h"

namespace tolvane {

TEST(ListLines, FindsTheLinesWithWhatSysfsKnowsAndLeavesOutTheRest) {
    char root[] = "/tmp/tolvane-list-XXXXXX";
    ASSERT_NE(mkdtemp(root), nullptr);
    setenv("TOLVANE_TEST_ROOT", root, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(list_serial_lines(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "no serial lines found\n");

    fake_sysfs::make_machine(root);
    std::vector<std::pair<std::string, std::string>> found;
    for (const serial_line& line : find_serial_lines()) found.emplace_back(line.name, line.about);
    EXPECT_EQ(found, fake_sysfs::machine_lines());
    // The ids a usb: name is matched against, and the path under the root.
    std::string path;
    EXPECT_EQ(find_usb_line("usb:A50285BI", find_serial_lines(), &path), usb_found::one);
    EXPECT_EQ(path, std::string(root) + "/dev/ttyUSB0");
    EXPECT_EQ(find_usb_line("usb:2e8a:000a", find_serial_lines(), &path), usb_found::one);
    EXPECT_EQ(path, std::string(root) + "/dev/ttyACM0");
    unsetenv("TOLVANE_TEST_ROOT");
    EXPECT_EQ(std::system(("rm -rf " + std::string(root)).c_str()), 0);
}

TEST(NaturalOrder, CountsNumbersByValue) {
    const char* const ordered[] = {"COM2", "COM10", "ttyS", "ttyS02", "ttyS3", "ttyS10", "ttyS10a", "ttyUSB0"};
    for (size_t i = 0; i < std::size(ordered); ++i) {
        for (size_t j = 0; j < std::size(ordered); ++j)
            EXPECT_EQ(natural_less(ordered[i], ordered[j]), i < j) << ordered[i] << " / " << ordered[j];
    }
}

}  // namespace tolvane
