#include "link/link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/fake_line.h"

using namespace tolvane;
using fake_line::Bytes;

TEST(LinkPut, EscapesExactlyTheThreeControlBytes) {
    for (int b = 0; b < 256; ++b) {
        fake_line::reset();
        link_put(b);
        const bool control = b == 0x02 || b == 0x03 || b == 0x10;
        const Bytes expected = control ? Bytes{0x10, uint8_t(b)} : Bytes{uint8_t(b)};
        EXPECT_EQ(fake_line::sent(), expected) << "byte " << b;
    }
    fake_line::reset();
    link_put(SYM_STX);
    link_put(SYM_ETX);
    EXPECT_EQ(fake_line::sent(), (Bytes{0x02, 0x03}));
}

TEST(LinkGet, EveryByteValueRoundTrips) {
    fake_line::reset();
    for (int b = 0; b < 256; ++b) link_put(b);
    link_put(SYM_STX);
    link_put(SYM_ETX);
    const Bytes wire = fake_line::sent();
    fake_line::reset(wire);
    for (int b = 0; b < 256; ++b) EXPECT_EQ(link_get(), b);
    EXPECT_EQ(link_get(), SYM_STX);
    EXPECT_EQ(link_get(), SYM_ETX);
    EXPECT_FALSE(fake_line::underrun());
}

TEST(LinkGet, DleMakesAnyNextByteData) {
    fake_line::reset({0x10, 0x41, 0x10, 0x10, 0x10, 0x02, 0x10, 0x03, 0x02, 0x03, 0x0C});
    EXPECT_EQ(link_get(), 0x41);
    EXPECT_EQ(link_get(), 0x10);
    EXPECT_EQ(link_get(), 0x02);
    EXPECT_EQ(link_get(), 0x03);
    EXPECT_EQ(link_get(), SYM_STX);
    EXPECT_EQ(link_get(), SYM_ETX);
    EXPECT_EQ(link_get(), 0x0C);
}

TEST(LinkNumbers, WireBytesAreBigEndianAndEscaped) {
    fake_line::reset();
    link_put_u32(258);
    EXPECT_EQ(fake_line::sent(), (Bytes{0x00, 0x00, 0x01, 0x10, 0x02}));
    fake_line::reset();
    link_put_u16(0x0203);
    EXPECT_EQ(fake_line::sent(), (Bytes{0x10, 0x02, 0x10, 0x03}));

    fake_line::reset({0x00, 0x00, 0x01, 0x10, 0x02, 0x10, 0x02, 0x10, 0x03, 0xFF, 0xFF});
    EXPECT_EQ(link_get_u32(), 258u);
    EXPECT_EQ(link_get_u16(), 0x0203);
    EXPECT_EQ(static_cast<int16_t>(link_get_u16()), -1);
    EXPECT_EQ(fake_line::unread(), 0u);
}

TEST(LinkNumbers, EtxCutsAFieldShortAndMissingBytesAreZero) {
    // 0xAB then ETX: the rest of the u32 is zero, and the next field starts
    // right after the ETX.
    fake_line::reset({0xAB, 0x03, 0x12, 0x34});
    EXPECT_EQ(link_get_u32(), 0xAB000000u);
    EXPECT_EQ(link_get_u16(), 0x1234);
    fake_line::reset({0x03});
    EXPECT_EQ(link_get_u16(), 0);
    EXPECT_FALSE(fake_line::underrun());
}

TEST(LinkBlock, StopsAtCountOrEtx) {
    unsigned char buf[8] = {};
    fake_line::reset({0x61, 0x62, 0x03, 0x63});
    EXPECT_EQ(link_get_block(4, buf), 2);
    EXPECT_EQ(fake_line::unread(), 1u);  // the ETX was consumed, 0x63 waits

    // A stray STX inside a block is stored as 0x02.
    fake_line::reset({0x61, 0x02, 0x62, 0x63});
    EXPECT_EQ(link_get_block(3, buf), 3);
    EXPECT_EQ(buf[1], 0x02);
    EXPECT_EQ(fake_line::unread(), 1u);  // a full block reads no ETX

    fake_line::reset();
    const unsigned char data[] = {0x80, 0x82, 0x83, 0xFF, 0x02};
    link_put_block(5, data);
    EXPECT_EQ(fake_line::sent(), (Bytes{0x80, 0x82, 0x83, 0xFF, 0x10, 0x02}));
}

TEST(LinkString, TakesAtMost79AndLeavesTheRest) {
    char buf[LINK_STRING_MAX + 1];
    fake_line::reset({'A', 'B', 'C', 0x03});
    EXPECT_EQ(link_get_string(buf), 3);
    EXPECT_STREQ(buf, "ABC");
    EXPECT_EQ(fake_line::unread(), 0u);

    fake_line::reset({0x03});
    EXPECT_EQ(link_get_string(buf), 0);
    EXPECT_STREQ(buf, "");

    Bytes hundred(100, 'x');
    hundred.push_back(0x03);
    fake_line::reset(hundred);
    EXPECT_EQ(link_get_string(buf), 79);
    EXPECT_EQ(std::strlen(buf), 79u);
    EXPECT_EQ(fake_line::unread(), 22u);  // 21 bytes and the ETX stay in the stream
    EXPECT_EQ(link_get_string(buf), 21);
    EXPECT_EQ(fake_line::unread(), 0u);
}

// A field is read to its ETX whatever its length; one longer than the
// buffer is reported, never cut into two fields.
TEST(LinkField, ReadsToItsEtxAndTellsWhenItDidNotFit) {
    struct Case {
        size_t length;
        int expected;
    } cases[] = {{0, 1}, {3, 4}, {78, 79}, {79, -1}, {300, -1}};  // x bytes, then the data ETX
    for (const auto& c : cases) {
        Bytes field(c.length, 'x');
        field.insert(field.end(), {0x10, 0x03, 0x03, 'n'});  // an escaped ETX is data
        fake_line::reset(field);
        char buf[LINK_STRING_MAX + 1];
        EXPECT_EQ(link_get_field(buf, sizeof buf), c.expected) << c.length;
        EXPECT_EQ(fake_line::unread(), 1u) << "only the next field's byte is left";
        EXPECT_EQ(std::strlen(buf), std::min<size_t>(c.length + 1, LINK_STRING_MAX)) << c.length;
    }
}

TEST(LinkString, PutTextEndsWithBareEtx) {
    fake_line::reset();
    link_put_text("a\x02z");
    EXPECT_EQ(fake_line::sent(), (Bytes{'a', 0x10, 0x02, 'z', 0x03}));
}

TEST(LinkNoHost, MinusOneFromTheLineEndsReadsWithoutStoringIt) {
    fake_line::reset_no_host({0x10});
    EXPECT_EQ(link_get(), -1) << "-1 after a DLE is no data byte";
    fake_line::reset_no_host({0x61, 0x62});
    unsigned char buf[8];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(link_get_block(8, buf), 2);
    EXPECT_EQ(buf[2], 0xEE);
    EXPECT_EQ(fake_line::reads_past_end(), 1);
}
