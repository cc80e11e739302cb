// Where a driver's rate stops counting as the one asked for.
#include "posix/speed.h"

#include <gtest/gtest.h>

namespace tolvane {

TEST(Speed, TheDriversRateCountsWithinThreePercent) {
    struct Case {
        long asked, in_force;
        bool matches;
    } cases[] = {
        {250000, 257500, true},  {250000, 242500, true}, {250000, 257501, false}, {250000, 242499, false},
        {250000, 9600, false},   // a driver that fell back to its default
        {250000, 0, false},      // no rate could be read
        {4294967295, 4294967295, true},  // the largest termios2 holds: no overflow
    };
    for (const Case& c : cases) EXPECT_EQ(speed_matches(c.asked, c.in_force), c.matches) << c.asked << " " << c.in_force;
}

}  // namespace tolvane
