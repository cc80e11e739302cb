// The line as a board needs it: any speed its driver takes, the frame and
// the flow control, the modem lines and the reset pulse, the list of lines,
// and -w waiting for a board that is not plugged in yet.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/fake_sysfs.h"
#include "tests/harness.h"
#include "tests/line_speed.h"

using namespace e2e;

namespace {


}  // namespace

// Rates with a speed code are set by it, others by number; the banner
// shows the rate in force, and the line gets its old speed back.
TEST(LineSetup, EverySpeedTheDriverTakes) {
    for (const auto& [baud, by_number] : {std::pair<long, bool>{230400, false}, {921600, false}, {250000, true}}) {
        Session run = start({"-c", "{line}", "-b", std::to_string(baud)});
        ASSERT_TRUE(console_wait_for(run, " with " + std::to_string(baud) + " Baud\r\n")) << run.console_output;
        EXPECT_EQ(line_speed::read(run.line.slave).baud, baud);
        EXPECT_EQ(line_speed::read(run.line.slave).by_number, by_number) << baud;
        EXPECT_EQ(hex(line_read(run, 50)), hex(reset_sequence()));
        end_with_ctrl_q(run);
        EXPECT_TRUE(same_settings(settings(run.line.slave), run.line_at_start)) << baud;
        close_all(run);
    }
}

// 110 is below the slowest; 2^32 beyond what any driver can be asked.
TEST(LineSetup, SpeedsRefusedBeforeAnythingIsSent) {
    for (const char* baud : {"110", "4294967296"}) {
        Session run = start({"-q", "-c", "{line}", "-b", baud, "reset"});
        EXPECT_EQ(exit_code(wait_exit(run)), 255) << baud;
        EXPECT_EQ(run.console_output, std::string(baud) + " Baud not supported\r\n");
        EXPECT_TRUE(line_drain(run, 100).empty()) << baud;
        EXPECT_TRUE(same_settings(settings(run.line.slave), run.line_at_start)) << baud;
        close_all(run);
    }
}

namespace {

constexpr tcflag_t FRAME_CFLAGS = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

}  // namespace

// Each frame and flow control option as the line's termios shows it while
// the terminal runs, and back as before at the end. What the pty cannot
// hold is refused by name with 255 before anything is sent; a value no
// driver knows is a usage error (2), the line never opened.
TEST(LineSetup, FrameAndFlowControlAsTheTermiosShowsThem) {
    struct Case {
        std::vector<std::string> args;
        int status;        // 2: a usage error; else 0, or 255 where the pty cannot hold cflags
        tcflag_t cflags;   // the frame bits asked for
        tcflag_t iflags;   // IXON and IXOFF asked for
        std::string said;  // the refusal, or the usage error's first line
    } cases[] = {
        {{}, 0, CS8, 0, ""},
        {{"--stopbits", "2"}, 0, CS8 | CSTOPB, 0, "2 stop bits"},
        {{"--flow", "hard"}, 0, CS8 | CRTSCTS, 0, "hard flow control"},
        {{"--flow=soft"}, 0, CS8, IXON | IXOFF, "soft flow control"},
        {{"--flow", "none", "--stopbits", "1", "--databits", "8", "--parity", "none"}, 0, CS8, 0, ""},
        {{"--databits", "7", "--parity", "even", "--stopbits", "2"}, 0, CS7 | PARENB | CSTOPB, 0, "7 data bits"},
        {{"--parity", "odd"}, 0, CS8 | PARENB | PARODD, 0, "odd parity"},
        {{"--parity", "maybe"}, 2, 0, 0, "option needs none, odd, even, mark or space -- --parity"},
        {{"--databits", "9"}, 2, 0, 0, "option needs 5, 6, 7 or 8 -- --databits"},
        {{"--databits", "77"}, 2, 0, 0, "option needs 5, 6, 7 or 8 -- --databits"},
        {{"--stopbits", "3"}, 2, 0, 0, "option needs 1 or 2 -- --stopbits"},
        {{"--flow", "sideways"}, 2, 0, 0, "option needs none, hard or soft -- --flow"},
        {{"--flow", "HARD"}, 2, 0, 0, "option needs none, hard or soft -- --flow"},
    };
    for (const Case& c : cases) {
        const std::string what = c.args.empty() ? "the defaults" : c.args[0] + " " + c.args.back();
        const bool usage_error = c.status == 2;
        const bool held = !usage_error && pty_holds_frame(c.cflags);
        std::vector<std::string> args = {"-c", "{line}"};
        if (!held) args.insert(args.begin(), "-q");
        args.insert(args.end(), c.args.begin(), c.args.end());
        Session run = start(args);
        if (held) {
            ASSERT_TRUE(console_wait_for(run, "Exit with Ctrl-Q")) << what << ": " << run.console_output;
            const struct termios during = settings(run.line.slave);
            EXPECT_EQ(during.c_cflag & FRAME_CFLAGS, c.cflags) << what;
            EXPECT_EQ(during.c_iflag & (IXON | IXOFF | INPCK), c.iflags) << what;
            if (c.iflags) {
                EXPECT_EQ(during.c_cc[VSTART], 0x11) << what;
                EXPECT_EQ(during.c_cc[VSTOP], 0x13) << what;
            }
            EXPECT_EQ(hex(line_read(run, 50)), hex(reset_sequence())) << what;
            end_with_ctrl_q(run);
        } else {
            const int status = exit_code(wait_exit(run));
            const std::string said = run.console_output.substr(0, run.console_output.find('\r'));
            if (usage_error) {
                EXPECT_EQ(status, 2) << what;
                EXPECT_EQ(said, tolvane_path() + ": " + c.said) << what;
                EXPECT_NE(run.console_output.find(" -[opt] { commands to send }"), std::string::npos) << what;
            } else {
                EXPECT_EQ(status, 255) << what;
                EXPECT_EQ(said, run.line.path + ": " + c.said + " not supported") << what;
            }
            EXPECT_TRUE(line_drain(run, 100).empty()) << what << ": nothing is sent";
        }
        EXPECT_TRUE(same_settings(settings(run.line.slave), run.line_at_start)) << what;
        close_all(run);
    }
}

// A pty's driver refuses every modem request: that is said once, before
// the banner, and the session goes on as usual.
TEST(LineSetup, ALineWithoutModemLinesIsToldOnceAndServed) {
    for (const std::string ask : {"--dtr=off --rts=on", "--pulse=rts:50"}) {
        Session run = start({"-c", "{line}", ask.substr(0, ask.find(' ')), ask.substr(ask.find(' ') + 1), "hello"});
        ASSERT_TRUE(console_wait_for(run, "Exit with Ctrl-Q")) << run.console_output;
        EXPECT_EQ(run.console_output.rfind(run.line.path + ": no modem lines\r\nRS232 Tolvane ", 0), 0u)
            << run.console_output;
        EXPECT_EQ(hex(line_read(run, 57)), hex(with_reset("hello \r"))) << ask;
        end_with_ctrl_q(run);
        EXPECT_EQ(run.console_output.find("no modem lines"), run.console_output.rfind("no modem lines"));
        close_all(run);
    }
}

TEST(ListLines, PrintsTheLinesOfAMadeUpMachine) {
    const std::string root = scratch_dir("list_machine");
    fake_sysfs::make_machine(root);
    std::string expected;
    for (const auto& [name, about] : fake_sysfs::machine_lines()) expected += name + "  " + about + "\r\n";
    setenv("TOLVANE_TEST_ROOT", root.c_str(), 1);
    Session run = start({"--list", "-c", "{line}"});
    unsetenv("TOLVANE_TEST_ROOT");
    EXPECT_EQ(exit_code(wait_exit(run)), 0);
    EXPECT_EQ(run.console_output, expected);
    EXPECT_TRUE(line_drain(run, 50).empty()) << "the line was opened";
    close_all(run);
}

namespace {

struct Waiting {
    std::string link;  // where the board will appear
    Session run;
};

// tolvane -w on a name that does not exist yet, seen waiting with the
// console raw (Ctrl-Q is a key).
Waiting start_waiting(const std::string& name, std::vector<std::string> args) {
    Waiting w;
    w.link = scratch_dir(name) + "/usb-board";
    args.insert(args.begin(), {"-w", "-c", w.link});
    Options no_line;
    no_line.line_pty = false;
    w.run = start(args, no_line);
    EXPECT_TRUE(console_wait_for(w.run, "waiting for " + w.link + " (Ctrl-Q ends)\r\n")) << w.run.console_output;
    EXPECT_TRUE(console_wait_raw(w.run));
    return w;
}

}  // namespace

TEST(WaitAtStart, StartsAsUsualOnceTheBoardIsPluggedIn) {
    for (const bool quit : {false, true}) {
        Waiting w = start_waiting("wait_start", quit ? std::vector<std::string>{"-q", "hello"} : std::vector<std::string>{"hello"});
        console_type(w.run, {'x'});  // no line to go to: dropped
        Pty board = open_pty();
        ASSERT_EQ(symlink(board.path.c_str(), w.link.c_str()), 0);
        EXPECT_EQ(hex(pty_io::read_exactly(board.master, 57, 3000)), hex(with_reset("hello \r")));
        if (quit) {
            EXPECT_EQ(exit_code(wait_exit(w.run)), 0);
        } else {
            ASSERT_TRUE(console_wait_for(w.run, " on " + w.link + " with 115200 Baud\r\n\r\nExit with Ctrl-Q"));
            end_with_ctrl_q(w.run);
        }
        EXPECT_TRUE(pty_io::read_until_quiet(board.master, 100).empty()) << "the key typed while waiting";
        EXPECT_TRUE(same_settings(settings(w.run.console.slave), w.run.console_at_start));
        close_pty(board);
        close_pty(w.run.console);
    }
}

// Ctrl-Q ends the wait with status 0, a signal by the signal; the console
// gets its settings back either way.
TEST(WaitAtStart, CtrlQOrASignalEndsTheWait) {
    for (const bool by_signal : {false, true}) {
        Waiting w = start_waiting("wait_start_end", {});
        if (by_signal)
            kill(w.run.pid, SIGTERM);
        else
            console_type(w.run, {0x11});
        const int status = wait_exit(w.run);
        EXPECT_EQ(WIFSIGNALED(status) ? -WTERMSIG(status) : exit_code(status), by_signal ? -SIGTERM : 0);
        EXPECT_EQ(w.run.console_output.find("RS232"), std::string::npos);
        EXPECT_TRUE(same_settings(settings(w.run.console.slave), w.run.console_at_start));
        close_pty(w.run.console);
    }
}

// What is there but cannot be had is no board to wait for.
TEST(WaitAtStart, ALineInUseIsStillRefused) {
    Pty line = open_pty();
    const int other = open(line.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    Options no_line;
    no_line.line_pty = false;
    Session run = start({"-w", "-q", "-c", line.path}, no_line);
    EXPECT_EQ(exit_code(wait_exit(run)), 255);
    EXPECT_EQ(run.console_output, "open: " + line.path + ": line in use by another program\r\n");
    EXPECT_TRUE(pty_io::read_until_quiet(line.master, 100).empty());
    close(other);
    close_pty(run.console);
    close_pty(line);
}
