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

using L = line_level;
using M = modem_line;

std::string calls;  // "+DTR -RTS wait50 ..."
int fail_with = 0;  // errno for every request; 0: they succeed

int fake_ioctl(int, unsigned long request, int* bits) {
    calls += std::string(request == TIOCMBIS ? "+" : "-") + (*bits == TIOCM_DTR ? "DTR " : "RTS ");
    errno = fail_with;
    return fail_with ? -1 : 0;
}

void fake_sleep(int ms) { calls += "wait" + std::to_string(ms) + " "; }

// The requests for these settings; with_pulse false is a reconnect.
std::string requests(L dtr, L rts, M pulse, int ms, bool with_pulse, const char* device = "/dev/ttyUSB0") {
    line_settings settings;
    settings.device = device;
    settings.dtr = dtr;
    settings.rts = rts;
    settings.pulse_line = pulse;
    settings.pulse_ms = ms;
    modem_ioctl = fake_ioctl;
    modem_sleep = fake_sleep;
    calls.clear();
    port_set_modem_lines(3, settings, with_pulse);
    return calls;
}

}  // namespace

TEST(Modem, LevelsThenThePulseThenTheHeldLevel) {
    struct Case {
        L dtr, rts;
        M pulse;
        int ms;
        bool with_pulse;
        const char* expected;
    } cases[] = {
        {L::keep, L::keep, M::none, 100, true, ""},  // nothing asked: the driver's levels stay
        {L::off, L::on, M::none, 100, true, "-DTR +RTS "},
        {L::keep, L::keep, M::rts, 50, true, "+RTS wait50 -RTS "},
        {L::off, L::keep, M::rts, 100, true, "-DTR +RTS wait100 -RTS "},  // an ESP32's reset
        {L::keep, L::on, M::rts, 20, true, "+RTS +RTS wait20 +RTS "},    // held on: back on after it
        {L::on, L::off, M::dtr, 100, false, "+DTR -RTS "},               // a reconnect: no pulse
    };
    testing::internal::CaptureStdout();
    for (const Case& c : cases) EXPECT_EQ(requests(c.dtr, c.rts, c.pulse, c.ms, c.with_pulse), c.expected);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// A pty answers ENOTTY: every request still reaches the driver, the pulse
// is not waited for, and the message comes once in the run. Other errors
// (a device going away) are left to the next read.
TEST(Modem, ALineWithoutModemLinesIsToldOnce) {
    testing::internal::CaptureStdout();
    fail_with = EIO;
    EXPECT_EQ(requests(L::off, L::keep, M::rts, 100, true), "-DTR +RTS wait100 -RTS ");
    fail_with = ENOTTY;
    EXPECT_EQ(requests(L::off, L::keep, M::rts, 100, true, "/dev/pts/7"), "-DTR +RTS -RTS ");
    EXPECT_EQ(requests(L::off, L::keep, M::none, 100, false, "/dev/pts/7"), "-DTR ");
    fail_with = 0;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "/dev/pts/7: no modem lines\n");
}

}  // namespace tolvane
