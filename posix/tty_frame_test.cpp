#include "posix/tty_frame.h"

#include <gtest/gtest.h>

namespace tolvane {

namespace {

constexpr tcflag_t FRAME_CFLAGS = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

line_settings line_of(int data_bits, parity_kind parity, int stop_bits, flow_kind flow) {
    line_settings line;
    line.baud = 9600;
    line.data_bits = data_bits;
    line.parity = parity;
    line.stop_bits = stop_bits;
    line.flow = flow;
    return line;
}

}  // namespace

// The termios each frame and flow control asks the driver for: every data
// size and parity, the stop bits, both kinds of flow control. Parity is
// never checked (no INPCK), so no byte is lost to a parity error.
TEST(TtyFrame, EachSettingAsTheTermiosAsksForIt) {
    struct Case {
        line_settings line;
        tcflag_t cflags;
        tcflag_t iflags;
    } cases[] = {
        {line_of(8, parity_kind::none, 1, flow_kind::none), CS8, 0},
        {line_of(7, parity_kind::even, 2, flow_kind::none), CS7 | PARENB | CSTOPB, 0},
        {line_of(6, parity_kind::odd, 1, flow_kind::none), CS6 | PARENB | PARODD, 0},
        {line_of(5, parity_kind::mark, 1, flow_kind::none), CS5 | PARENB | PARODD | CMSPAR, 0},
        {line_of(8, parity_kind::space, 2, flow_kind::none), CS8 | PARENB | CMSPAR | CSTOPB, 0},
        {line_of(8, parity_kind::none, 1, flow_kind::hard), CS8 | CRTSCTS, 0},
        {line_of(8, parity_kind::none, 1, flow_kind::soft), CS8, IXON | IXOFF},
    };
    struct termios saved{};
    for (const Case& c : cases) {
        bool has_code = false;
        const struct termios t = tty_raw_settings(saved, c.line, &has_code);
        EXPECT_TRUE(has_code);
        EXPECT_EQ(t.c_cflag & FRAME_CFLAGS, c.cflags) << c.line.data_bits << " " << static_cast<int>(c.line.parity);
        EXPECT_EQ(t.c_cflag & ~(FRAME_CFLAGS | CBAUD), tcflag_t(CREAD | CLOCAL));
        EXPECT_EQ(t.c_iflag, IGNBRK | IGNPAR | c.iflags);
        EXPECT_EQ(t.c_cc[VSTART], c.iflags ? 0x11 : 0);
        EXPECT_EQ(t.c_cc[VSTOP], c.iflags ? 0x13 : 0);
        EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
        EXPECT_EQ(tty_frame_refused(c.line, t, t), "");
    }
}

// A driver that left out part of the frame shows it in what it reads back
// (a pty forces CS8 and clears PARENB): the first part left out is named.
TEST(TtyFrame, WhatTheDriverLeftOutIsNamed) {
    const line_settings line = line_of(7, parity_kind::odd, 2, flow_kind::soft);
    bool has_code;
    const struct termios asked = tty_raw_settings(termios{}, line, &has_code);
    const struct {
        tcflag_t cflags_cleared;
        tcflag_t iflags_cleared;
        const char* said;
    } cases[] = {
        {CSIZE & ~CS7, 0, ""},  // CS7 is held
        {PARENB, 0, "odd parity"},
        {PARODD, 0, "odd parity"},
        {CSTOPB, 0, "2 stop bits"},
        {0, IXOFF, "soft flow control"},
        {CS7 | PARENB, 0, "7 data bits"},
    };
    for (const auto& c : cases) {
        struct termios got = asked;
        got.c_cflag &= ~c.cflags_cleared;
        got.c_iflag &= ~c.iflags_cleared;
        if (c.cflags_cleared & CS7) got.c_cflag |= CS8;  // as a pty forces it
        EXPECT_EQ(tty_frame_refused(line, asked, got), c.said);
    }
    // With no parity asked for, a PARODD the driver keeps means nothing.
    const line_settings plain = line_of(8, parity_kind::none, 1, flow_kind::none);
    struct termios plain_asked = tty_raw_settings(termios{}, plain, &has_code);
    struct termios plain_got = plain_asked;
    plain_got.c_cflag |= PARODD;
    EXPECT_EQ(tty_frame_refused(plain, plain_asked, plain_got), "");
    plain_got.c_cflag |= CRTSCTS;
    EXPECT_EQ(tty_frame_refused(plain, plain_asked, plain_got), "no flow control");
}

}  // namespace tolvane
