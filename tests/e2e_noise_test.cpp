// Noise is shown, not swallowed: a board that prints garbage at the wrong
// speed, or an STX and a code before its boot log, gets every byte onto
// the console, and the file service stays in step.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "client/hostfs.h"
#include "tests/harness.h"

using namespace e2e;

namespace {

using Clock = std::chrono::steady_clock;

Session open_session(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{"-c", "{line}"};
    args.insert(args.end(), extra.begin(), extra.end());
    Session s = start(args);
    EXPECT_EQ(hex(line_read(s, 50)), hex(reset_sequence()));
    EXPECT_TRUE(console_wait_for(s, "Exit with Ctrl-Q\r\n\r\n"));
    EXPECT_TRUE(console_wait_raw(s));
    return s;
}

void quit(Session& s) {
    console_type(s, {0x11});
    EXPECT_EQ(exit_code(wait_exit(s)), 0);
    close_pty(s.line);
    close_pty(s.console);
}

}  // namespace

// What looked like a request shows as text: within the second that ends a
// request gone silent, or at once when a field runs past its limit.
TEST(Noise, ShowsAsTextWhatWasNoRequest) {
    const std::string name200(200, 'n');
    const struct {
        const char* what;
        std::string sent;   // after the host's ready answer to the STX
        std::string shown;  // all of it on the console, the STX first
        int within_ms;
    } cases[] = {
        {"boot text after an open's code", std::string("\0U-Boot 2026.01\r\n", 17),
         std::string("\x02\0U-Boot 2026.01\r\n", 18), 2000},
        {"a name of 200 bytes, then text", std::string(1, '\0') + name200 + "\x03r\x03 after\r\n",
         "\x02" + std::string(1, '\0') + name200 + "\x03r\x03 after\r\n", 800},
        {"a write to a handle never opened", "\x10\x02\x41\x42\x43\x44 data\x03more\r\n",
         "\x02\x02" "ABCD data\x03more\r\n", 800},
    };
    for (const auto& c : cases) {
        Session s = open_session();
        const size_t before = s.console_output.size();
        line_write(s, {0x02});
        ASSERT_EQ(hex(line_read(s, 1)), hex({0x03})) << c.what;
        const auto sent = Clock::now();
        line_write(s, bytes(c.sent));
        EXPECT_TRUE(console_wait_for(s, c.shown, c.within_ms + 500)) << c.what;
        EXPECT_LT(Clock::now() - sent, std::chrono::milliseconds(c.within_ms)) << c.what;
        EXPECT_EQ(s.console_output.substr(before), c.shown) << c.what;
        EXPECT_TRUE(line_drain(s, 100).empty()) << c.what << ": nothing answered";
        quit(s);
    }
}

// Bursts of garbage, STX among it, each followed by a marker line: every
// marker shows, and a request afterwards is served as ever.
TEST(Noise, BurstsOfGarbageShowEveryMarkerAndLeaveTheServiceInStep) {
    Session s = open_session();
    std::mt19937 random(2026);
    std::string markers;
    for (int burst = 0; burst < 20; ++burst) {
        Bytes noise(300);
        for (size_t i = 0; i < noise.size(); ++i) {
            do noise[i] = static_cast<uint8_t>(random());
            // No ETX; and no STX so near the end that a request could be
            // whole with the marker's bytes in it.
            while (noise[i] == 0x03 || (noise[i] == 0x02 && i + 16 > noise.size()));
        }
        // And an STX with an open's code among it, as a board's boot text
        // at the wrong speed may hold: a name field that never ends.
        noise[100] = 0x02;
        noise[101] = 0x00;
        const std::string marker = "MARKER " + std::to_string(burst) + "\r\n";
        noise.insert(noise.end(), marker.begin(), marker.end());
        line_write(s, noise);
        markers += marker;
        line_drain(s, 20);  // the ready answers, and a reply where noise made a whole request
    }
    for (int burst = 0; burst < 20; ++burst)
        EXPECT_TRUE(console_wait_for(s, "MARKER " + std::to_string(burst) + "\r\n", 4000)) << burst;
    line_drain(s, 1500);  // past a request gone silent
    target_attach(s);
    EXPECT_EQ(tolvane::host_fopen("missing.txt", "r"), 0u) << "served, the stream in step";
    EXPECT_FALSE(pty_io::target_timed_out());
    quit(s);
}

// A target stopped at a breakpoint for 3 s in the middle of a request: with
// --request-timeout 0 the request is served when it goes on; by default
// its bytes show as text once the line has been silent for a second.
TEST(Noise, ARequestPausedInsideIsServedOrShownByTheRequestTimeOut) {
    const std::string head = std::string(1, '\x0a') + "no-su";  // remove, the name's first bytes
    const std::string rest = "ch-file\x03";
    const struct {
        const char* what;
        std::vector<std::string> args;
        bool served;
    } cases[] = {
        {"--request-timeout 0", {"--request-timeout", "0"}, true},
        {"the default", {}, false},
    };
    for (const auto& c : cases) {
        Session s = open_session(c.args);
        const size_t before = s.console_output.size();
        line_write(s, {0x02});
        ASSERT_EQ(hex(line_read(s, 1)), hex({0x03})) << c.what;
        line_write(s, bytes(head));
        const auto paused = Clock::now();
        if (!c.served) {
            EXPECT_TRUE(console_wait_for(s, "\x02" + head, 2500)) << c.what;
            const auto shown_after = Clock::now() - paused;
            EXPECT_GE(shown_after, std::chrono::milliseconds(900)) << c.what;
            EXPECT_LT(shown_after, std::chrono::milliseconds(1800)) << c.what;
        }
        std::this_thread::sleep_until(paused + std::chrono::seconds(3));
        line_write(s, bytes(rest));
        if (c.served) {
            EXPECT_EQ(hex(line_read(s, 2, 2000)), hex({0xFF, 0xFF})) << c.what << ": the remove's reply";
            EXPECT_EQ(console_drain(s, 300), "") << c.what << ": nothing shown";
        } else {
            EXPECT_TRUE(console_wait_for(s, rest)) << c.what;
            EXPECT_EQ(s.console_output.substr(before), "\x02" + head + rest) << c.what;
            EXPECT_TRUE(line_drain(s, 200).empty()) << c.what << ": nothing answered";
        }
        quit(s);
    }
}
