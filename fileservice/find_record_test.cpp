#include "fileservice/find.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/line.h"
#include "tests/local_time.h"

using namespace tolvane;

TEST(DosDatetime, PacksLocalTime) {
    const uint32_t v = dos_datetime(local_time(1999, 12, 31, 23, 59, 58));
    EXPECT_EQ(v & 0xFFFF, 0xBF7Du);
    EXPECT_EQ(v >> 16, 0x279Fu);
    // Odd seconds round down to the two-second step.
    EXPECT_EQ(dos_datetime(local_time(2024, 2, 29, 12, 30, 59)),
              uint32_t(44) << 25 | 2u << 21 | 29u << 16 | 12u << 11 | 30u << 5 | 29u);
}

TEST(DosDatetime, HoldsToTheRangeMsDosCanShow) {
    const uint32_t earliest = 1u << 21 | 1u << 16;
    const uint32_t latest = 127u << 25 | 12u << 21 | 31u << 16 | 23u << 11 | 59u << 5 | 29u;
    EXPECT_EQ(dos_datetime(local_time(1980, 1, 1, 0, 0, 0)), earliest);
    EXPECT_EQ(dos_datetime(local_time(1979, 12, 31, 23, 59, 59)), earliest);
    EXPECT_EQ(dos_datetime(local_time(1975, 6, 1, 12, 0, 0)), earliest);  // not 2103
    EXPECT_EQ(dos_datetime(0), earliest);
    EXPECT_EQ(dos_datetime(local_time(2107, 12, 31, 23, 59, 58)), latest);
    EXPECT_EQ(dos_datetime(local_time(2108, 1, 1, 0, 0, 0)), latest);
    EXPECT_EQ(dos_datetime(local_time(2200, 6, 1, 0, 0, 0)), latest);
}

TEST(FindRecord, NameIsCutTo13WithZerosAfter) {
    find_record r;
    std::memset(&r, 0x55, sizeof r);
    find_record_set_name(&r, "averyveryverylongname.txt");
    EXPECT_STREQ(r.name, "averyveryvery");
    find_record_set_name(&r, "a.c");
    EXPECT_STREQ(r.name, "a.c");
    for (size_t i = 3; i < sizeof r.name; ++i) EXPECT_EQ(r.name[i], 0) << i;
    find_record_set_name(&r, "");
    EXPECT_STREQ(r.name, " ");
}

TEST(FindRecord, TravelsAs24BigEndianDataBytes) {
    find_record r{};
    r.attributes = 0x0010;
    r.time = 0xBF7D;
    r.date = 0x279F;
    r.size = 0x01020310;
    find_record_set_name(&r, "x");
    line_state line;  // no transport: what is queued stays in line.out
    find_record_send(line, r);
    const std::vector<unsigned char> expected = {0x00, 0x10, 0x10, 0xBF, 0x7D, 0x27, 0x9F,
                                                 0x01, 0x10, 0x02, 0x10, 0x03, 0x10, 0x10,
                                                 'x', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(line.out, expected);
}
