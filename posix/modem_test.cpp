// The requests that reach the tty driver for --dtr, --rts and --pulse, in
// order, through a fake ioctl: a pty cannot show them.
#include "posix/modem.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <string>

#include "base/settings.h"

namespace tolvane {

namespace {

std::string calls;      // "+DTR -RTS wait50 ..."
int fail_with = 0;      // errno for every request; 0: they succeed
int interrupted = 0;    // this many requests fail with EINTR first

int fake_ioctl(int, unsigned long request, int* bits) {
    if (interrupted > 0) {
        --interrupted;
        calls += "EINTR ";
        errno = EINTR;
        return -1;
    }
    calls += request == TIOCMBIS ? "+" : request == TIOCMBIC ? "-" : "?";
    calls += *bits == TIOCM_DTR ? "DTR " : *bits == TIOCM_RTS ? "RTS " : "? ";
    if (fail_with == 0) return 0;
    errno = fail_with;
    return -1;
}

void fake_sleep(int ms) { calls += "wait" + std::to_string(ms) + " "; }

struct Case {
    line_level dtr, rts;
    modem_line pulse;
    int ms;
    bool with_pulse;  // false: a reconnect
    const char* expected;
};

void set(const Case& c) {
    dtr_level = c.dtr;
    rts_level = c.rts;
    pulse_line = c.pulse;
    pulse_ms = c.ms;
}

class Modem : public testing::Test {
protected:
    void SetUp() override {
        modem_ioctl = fake_ioctl;
        modem_sleep = fake_sleep;
        calls.clear();
        fail_with = 0;
        interrupted = 0;
    }
    void TearDown() override { set({line_level::keep, line_level::keep, modem_line::none, 100, true, ""}); }
};

}  // namespace

TEST_F(Modem, LevelsThenThePulseThenTheHeldLevel) {
    using L = line_level;
    using M = modem_line;
    const Case cases[] = {
        {L::keep, L::keep, M::none, 100, true, ""},  // nothing asked: the driver's levels stay
        {L::off, L::on, M::none, 100, true, "-DTR +RTS "},
        {L::keep, L::keep, M::rts, 50, true, "+RTS wait50 -RTS "},
        // An ESP32's reset: DTR off so that RTS alone pulls EN down.
        {L::off, L::keep, M::rts, 100, true, "-DTR +RTS wait100 -RTS "},
        {L::keep, L::keep, M::dtr, 250, true, "+DTR wait250 -DTR "},
        // A line held on goes back on after its pulse.
        {L::keep, L::on, M::rts, 20, true, "+RTS +RTS wait20 +RTS "},
        // A reconnect: the levels again, no pulse for a board that restarted.
        {L::on, L::off, M::dtr, 100, false, "+DTR -RTS "},
        {L::keep, L::keep, M::dtr, 100, false, ""},
    };
    for (const Case& c : cases) {
        set(c);
        calls.clear();
        testing::internal::CaptureStdout();
        port_set_modem_lines(3, "/dev/ttyUSB0", c.with_pulse);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(calls, c.expected);
    }
}

TEST_F(Modem, AnInterruptedRequestIsMadeAgain) {
    set({line_level::off, line_level::keep, modem_line::none, 100, true, ""});
    interrupted = 2;
    port_set_modem_lines(3, "/dev/ttyUSB0", true);
    EXPECT_EQ(calls, "EINTR EINTR -DTR ");
}

// A pty answers ENOTTY: every request still goes to the driver, the pulse
// is not waited for, and the message comes once in the whole run. Other
// errors (a device going away) are left to the next read.
TEST_F(Modem, ALineWithoutModemLinesIsToldOnce) {
    set({line_level::off, line_level::on, modem_line::rts, 100, true, ""});
    fail_with = EIO;
    testing::internal::CaptureStdout();
    port_set_modem_lines(3, "/dev/ttyUSB0", true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(calls, "-DTR +RTS +RTS wait100 +RTS ");

    fail_with = ENOTTY;
    calls.clear();
    testing::internal::CaptureStdout();
    port_set_modem_lines(3, "/dev/pts/7", true);
    port_set_modem_lines(3, "/dev/pts/7", false);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "/dev/pts/7: no modem lines\n");
    EXPECT_EQ(calls, "-DTR +RTS +RTS +RTS -DTR +RTS ");
}

}  // namespace tolvane
