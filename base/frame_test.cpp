#include "base/frame.h"

#include <gtest/gtest.h>

namespace tolvane {

// Each name the options take comes back as the same name; the short form
// and the parts as the messages name them.
TEST(Frame, NamesAndTheirShortForm) {
    for (const char* name : {"none", "odd", "even", "mark", "space"}) {
        parity_kind parity = parity_kind::none;
        ASSERT_TRUE(parse_parity(name, &parity)) << name;
        EXPECT_STREQ(parity_name(parity), name);
    }
    for (const char* name : {"none", "hard", "soft"}) {
        flow_kind flow = flow_kind::soft;
        ASSERT_TRUE(parse_flow(name, &flow)) << name;
        EXPECT_STREQ(flow_name(flow), name);
    }
    parity_kind parity = parity_kind::odd;
    flow_kind flow = flow_kind::hard;
    for (const char* wrong : {"", "Even", "e", "evenx", "maybe"}) EXPECT_FALSE(parse_parity(wrong, &parity)) << wrong;
    for (const char* wrong : {"", "HARD", "rtscts", "sideways"}) EXPECT_FALSE(parse_flow(wrong, &flow)) << wrong;
    EXPECT_EQ(parity, parity_kind::odd) << "unchanged by a wrong name";
    EXPECT_EQ(flow, flow_kind::hard);

    line_settings line;
    EXPECT_EQ(frame_text(line), "8N1");
    EXPECT_EQ(frame_part_text(line, frame_part::parity), "no parity");
    EXPECT_EQ(frame_part_text(line, frame_part::flow), "no flow control");
    EXPECT_EQ(frame_part_text(line, frame_part::stop_bits), "1 stop bit");
    line.data_bits = 7;
    line.parity = parity_kind::space;
    line.stop_bits = 2;
    line.flow = flow_kind::soft;
    EXPECT_EQ(frame_text(line), "7S2");
    EXPECT_EQ(frame_part_text(line, frame_part::data_bits), "7 data bits");
    EXPECT_EQ(frame_part_text(line, frame_part::parity), "space parity");
    EXPECT_EQ(frame_part_text(line, frame_part::stop_bits), "2 stop bits");
    EXPECT_EQ(frame_part_text(line, frame_part::flow), "soft flow control");
}

}  // namespace tolvane
