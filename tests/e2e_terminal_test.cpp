// The interactive terminal: what goes from the line to the console and from
// the keyboard to the line, and every way out putting the settings back.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/harness.h"

using namespace e2e;
using pty_io::cpu_ticks;

namespace {

// A session past its banner, with the console raw and the reset read.
struct Terminal {
    Session s;
    struct termios console_before;
    struct termios line_before;
};

Terminal open_terminal(const Options& options = {}) {
    Terminal t;
    t.s = start({"-c", "{line}"}, options);
    t.console_before = t.s.console_at_start;
    t.line_before = t.s.line_at_start;
    EXPECT_EQ(hex(line_read(t.s, 50)), hex(reset_sequence()));
    EXPECT_TRUE(console_wait_for(t.s, "Exit with Ctrl-Q\r\n\r\n"));
    if (!options.stdin_null) {
        EXPECT_TRUE(console_wait_raw(t.s));
    }
    console_drain(t.s, 50);
    return t;
}

void expect_settings_back(const Terminal& t) {
    EXPECT_TRUE(same_settings(settings(t.s.console.slave), t.console_before)) << "console";
    EXPECT_TRUE(same_settings(settings(t.s.line.slave), t.line_before)) << "line";
}

// Ctrl-Q: status 0, and both devices as they were.
void quit_with_ctrl_q(Terminal& t) {
    console_type(t.s, {0x11});
    EXPECT_EQ(exit_code(wait_exit(t.s)), 0);
    expect_settings_back(t);
}

void finish(Terminal& t) {
    close_pty(t.s.line);
    close_pty(t.s.console);
}

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

TEST(Terminal, LineSymbolsReachTheConsoleByTheRules) {
    Terminal t = open_terminal();
    line_write(t.s, {'h', 'i', 0x0C,   // form feed dropped
                     0x10, 0x0C,       // escaped form feed dropped too
                     0x10, 0x02,       // escaped STX is shown, starts nothing
                     0x03,             // bare ETX shown as 0x03
                     0x10, 0x41,       // DLE + any byte is that byte
                     0x10, 0x10, 0x11, 0x7F, 0x80, 0xFF, '\n', '!'});
    t.s.console_output.clear();
    ASSERT_TRUE(console_wait_for(t.s, "!"));
    console_drain(t.s, 50);
    EXPECT_EQ(hex(bytes(t.s.console_output)),
              hex({'h', 'i', 0x02, 0x03, 'A', 0x10, 0x11, 0x7F, 0x80, 0xFF, '\n', '!'}));
    EXPECT_TRUE(line_drain(t.s, 50).empty()) << "nothing goes back to the target";
    quit_with_ctrl_q(t);
    finish(t);
}

TEST(Terminal, KeysReachTheLineEscapedAndCtrlQEnds) {
    Terminal t = open_terminal();
    console_type(t.s, {'a', 0x02, 0x03, 0x10, 0x7F, 0x0C, 0x1B, 0x03 /* Ctrl-C is a key too */, 0xFF});
    EXPECT_EQ(hex(line_read(t.s, 13)),
              hex({'a', 0x10, 0x02, 0x10, 0x03, 0x10, 0x10, 0x08, 0x0C, 0x1B, 0x10, 0x03, 0xFF}));
    console_type(t.s, {0x11, 'z'});
    EXPECT_EQ(exit_code(wait_exit(t.s)), 0);
    EXPECT_TRUE(line_drain(t.s, 100).empty()) << "Ctrl-Q and what follows are not sent";
    expect_settings_back(t);
    finish(t);
}

TEST(Terminal, BareStxServesARequest) {
    Terminal t = open_terminal();
    line_write(t.s, {0x02});
    EXPECT_EQ(hex(line_read(t.s, 1)), hex({0x03})) << "ready";
    line_write(t.s, {0x09});  // find next with no search: -1
    EXPECT_EQ(hex(line_read(t.s, 2)), hex({0xFF, 0xFF}));
    line_write(t.s, {'o', 'k'});
    EXPECT_TRUE(console_wait_for(t.s, "ok"));
    quit_with_ctrl_q(t);
    finish(t);
}

TEST(Terminal, LineIsServedBeforeTheKeyboard) {
    Terminal t = open_terminal();
    // Hold tolvane inside a request while a key and a second STX queue up.
    line_write(t.s, {0x02});
    ASSERT_EQ(hex(line_read(t.s, 1)), hex({0x03}));
    console_type(t.s, {'k'});
    pause_ms(100);
    line_write(t.s, {0x09, 0x02});
    // Both are ready at the next wait: the STX's answer must come first.
    EXPECT_EQ(hex(line_read(t.s, 3)), hex({0xFF, 0xFF, 0x03}));
    line_write(t.s, {0x09});
    EXPECT_EQ(hex(line_read(t.s, 3)), hex({0xFF, 0xFF, 'k'}));
    quit_with_ctrl_q(t);
    finish(t);
}

TEST(Terminal, SignalsRestoreSettingsAndEndByTheSignal) {
    for (int sig : {SIGTERM, SIGHUP}) {
        Terminal t = open_terminal();
        kill(t.s.pid, sig);
        const int status = wait_exit(t.s);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "signal " << sig << ", status " << status;
        expect_settings_back(t);
        finish(t);
    }
    // Also while waiting inside a request for the target's next byte.
    Terminal t = open_terminal();
    line_write(t.s, {0x02});
    ASSERT_EQ(hex(line_read(t.s, 1)), hex({0x03}));
    kill(t.s.pid, SIGTERM);
    const int status = wait_exit(t.s);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    expect_settings_back(t);
    finish(t);
}

TEST(Terminal, LineLostEndsWithMessageAndSettingsBack) {
    Terminal t = open_terminal();
    close(t.s.line.master);
    t.s.line.master = -1;
    EXPECT_EQ(exit_code(wait_exit(t.s)), 255);
    // Printed once the console is cooked again, so it starts a fresh line.
    EXPECT_NE(t.s.console_output.find("read: " + t.s.line.path + ": line closed\r\n"), std::string::npos)
        << t.s.console_output;
    // A pty pair dies with its master, settings and all; the console stays.
    EXPECT_TRUE(same_settings(settings(t.s.console.slave), t.console_before));
    finish(t);
}

TEST(Terminal, KeyboardAtEndOfFileKeepsServingTheLineQuietly) {
    Options options;
    options.stdin_null = true;
    Terminal t = open_terminal(options);
    // Keys piped in have no terminal settings to change, and no word about it.
    EXPECT_EQ(t.s.console_output.find("ioctl"), std::string::npos) << t.s.console_output;

    const long before = cpu_ticks(t.s.pid);
    pause_ms(1000);
    const long used = cpu_ticks(t.s.pid) - before;
    // A spinning loop would use about 100 ticks in that second.
    EXPECT_LT(used, 20) << "ticks of CPU while idle";
    EXPECT_TRUE(line_drain(t.s, 50).empty()) << "nothing but the reset reaches the line";

    line_write(t.s, {0x02});
    EXPECT_EQ(hex(line_read(t.s, 1)), hex({0x03})) << "still a file server";
    line_write(t.s, {0x09});
    EXPECT_EQ(hex(line_read(t.s, 2)), hex({0xFF, 0xFF}));

    // With the console not raw, Ctrl-C's SIGINT is reachable.
    kill(t.s.pid, SIGINT);
    const int status = wait_exit(t.s);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_TRUE(same_settings(settings(t.s.line.slave), t.line_before));
    finish(t);
}

// Ctrl-Q while a request waits for the rest of its fields: it ends at once,
// and the keys typed while the request ran went out first, in order.
TEST(Terminal, CtrlQEndsARequestInProgress) {
    Terminal t = open_terminal();
    line_write(t.s, {0x02});
    ASSERT_EQ(hex(line_read(t.s, 1)), hex({0x03}));
    line_write(t.s, {0x04, 0x00});  // get character, half a handle
    console_type(t.s, {'a', 0x7F, 0x02});
    pause_ms(100);
    EXPECT_TRUE(line_drain(t.s, 100).empty()) << "keys wait while the request runs";
    const auto before = std::chrono::steady_clock::now();
    console_type(t.s, {0x11, 'z'});
    EXPECT_EQ(exit_code(wait_exit(t.s, 3000)), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    EXPECT_EQ(hex(line_drain(t.s, 100)), hex({'a', 0x08, 0x10, 0x02}));
    expect_settings_back(t);
    finish(t);
}

// A request whose fields stop coming for a second is no request: what it
// read shows as text, what comes later too, and keys typed meanwhile go
// out. One whose fields come within the second is served.
TEST(Terminal, ARequestThatStopsForASecondIsShownAsText) {
    const struct {
        int pause_ms;
        bool served;
    } cases[] = {{1500, false}, {300, true}};
    for (const auto& c : cases) {
        Terminal t = open_terminal();
        line_write(t.s, {0x02});
        ASSERT_EQ(hex(line_read(t.s, 1)), hex({0x03}));
        line_write(t.s, {0x04, 0x00, 0x00});  // get character, half a handle
        console_type(t.s, {'k'});
        pause_ms(c.pause_ms);
        line_write(t.s, {0x00, 0x07});
        if (c.served) {
            EXPECT_EQ(hex(line_read(t.s, 3)), hex({0xFF, 0xFF, 'k'})) << "the reply, then the key";
        } else {
            EXPECT_TRUE(console_wait_for(t.s, std::string("\x02\x04\0\0\0\x07", 6))) << c.pause_ms;
            EXPECT_EQ(hex(line_read(t.s, 1)), hex({'k'})) << "the key, no reply";
        }
        quit_with_ctrl_q(t);
        finish(t);
    }
}

// A stray STX in target text holds tolvane in a request that reads text as
// fields; Ctrl-Q still ends it with status 0.
TEST(Terminal, CtrlQAfterAStrayStx) {
    Terminal t = open_terminal();
    line_write(t.s, bytes("temp \x02"));
    ASSERT_EQ(hex(line_read(t.s, 1)), hex({0x03}));
    line_write(t.s, {0x10, 0x02, 0x00});  // a write, and two bytes of its handle
    quit_with_ctrl_q(t);
    EXPECT_NE(t.s.console_output.find("temp "), std::string::npos);
    finish(t);
}

// The program's own lines on a raw console end in CR LF, or they would
// step down the screen; into a pipe they go unchanged.
TEST(Terminal, OwnLinesAreCrLfOnTheRawConsoleAndLfInAPipe) {
    const Bytes open_missing = {0x00, 'n', 'o', 'n', 'e', 0x03, 'r', 0x03};
    for (bool pipe : {false, true}) {
        Options options;
        options.stdout_pipe = pipe;
        Session s = start({"-r", "-c", "{line}"}, options);
        ASSERT_EQ(hex(line_read(s, 50)), hex(reset_sequence()));
        ASSERT_TRUE(console_wait_raw(s));
        line_write(s, bytes("ok\n\x02"));
        ASSERT_EQ(hex(line_read(s, 1)), hex({0x03}));
        line_write(s, open_missing);
        EXPECT_EQ(hex(line_read(s, 4)), hex({0, 0, 0, 0}));
        line_write(s, {0x02});
        ASSERT_EQ(hex(line_read(s, 1)), hex({0x03}));
        line_write(s, {0x7F});  // no such request
        pause_ms(100);
        console_type(s, {0x11});
        EXPECT_EQ(exit_code(wait_exit(s)), 0);
        std::string shown = s.console_output;
        if (pipe) {
            shown += pty_io::read_all(s.stdout_pipe, 1000);
            close(s.stdout_pipe);
        }
        const std::string eol = pipe ? "\n" : "\r\n";
        // The target's own LF is never changed.
        EXPECT_NE(shown.find("ok\nfopen(none,r) = 0" + eol + "nicht implementierter RPC"), std::string::npos)
            << (pipe ? "pipe: " : "console: ") << shown;
        EXPECT_NE(shown.find("Terminalprogramm ist nicht 'up-to-date'" + eol), std::string::npos) << shown;
        EXPECT_EQ(shown.find("Exit with Ctrl-Q" + eol + eol), shown.find("Exit with Ctrl-Q")) << shown;
        close_pty(s.line);
        close_pty(s.console);
    }
}
