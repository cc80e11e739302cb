// The line as a board needs it: any speed its driver takes, the modem
// lines and the reset pulse, the list of lines, and -w waiting for a board
// that is not plugged in yet.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/fake_sysfs.h"
#include "tests/harness.h"
#include "tests/line_speed.h"

using namespace e2e;

namespace {

Bytes with_reset(const std::string& words) {
    Bytes b = reset_sequence();
    b.insert(b.end(), words.begin(), words.end());
    return b;
}

void end_with_ctrl_q(Session& run) {
    ASSERT_TRUE(console_wait_raw(run));
    console_type(run, {0x11});
    EXPECT_EQ(exit_code(wait_exit(run)), 0);
}

Options without_line() {
    Options o;
    o.line_pty = false;
    return o;
}

}  // namespace

// Rates with a speed code are set by it, any other by number; the banner
// shows the rate in force, and the line gets its old speed back.
TEST(LineSetup, EverySpeedTheDriverTakes) {
    struct Case {
        const char* baud;
        bool by_number;
    } cases[] = {{"230400", false}, {"921600", false}, {"4000000", false}, {"250000", true}, {"1234567", true}};
    for (const Case& c : cases) {
        Session run = start({"-c", "{line}", "-b", c.baud});
        ASSERT_TRUE(console_wait_for(run, " with " + std::string(c.baud) + " Baud\r\n")) << run.console_output;
        const line_speed::speed during = line_speed::read(run.line.slave);
        EXPECT_EQ(during.baud, std::stol(c.baud));
        EXPECT_EQ(during.by_number, c.by_number) << c.baud;
        EXPECT_EQ(hex(line_read(run, 50)), hex(reset_sequence())) << c.baud;
        end_with_ctrl_q(run);
        EXPECT_TRUE(same_settings(settings(run.line.slave), run.line_at_start)) << c.baud;
        EXPECT_EQ(line_speed::read(run.line.slave).baud, 38400);
        close_pty(run.line);
        close_pty(run.console);
    }
}

TEST(LineSetup, SpeedsRefusedBeforeAnythingIsSent) {
    // 110 and 299 below the slowest; 2^32 beyond what a driver can be asked.
    for (const char* baud : {"110", "299", "4294967296"}) {
        Session run = start({"-q", "-c", "{line}", "-b", baud, "reset"});
        EXPECT_EQ(exit_code(wait_exit(run)), 255) << baud;
        EXPECT_EQ(run.console_output, std::string(baud) + " Baud not supported\r\n");
        EXPECT_TRUE(line_drain(run, 100).empty()) << baud;
        EXPECT_TRUE(same_settings(settings(run.line.slave), run.line_at_start)) << baud;
        close_pty(run.line);
        close_pty(run.console);
    }
}

// A pty has no modem lines: its driver refuses every request. That is said
// once, before the banner, and the session goes on as usual.
TEST(LineSetup, ALineWithoutModemLinesIsToldOnceAndServed) {
    const std::vector<std::vector<std::string>> asks = {
        {"--dtr", "off", "--rts", "on"},
        {"--pulse", "rts:50"},
        {"--dtr=on", "--pulse=dtr"},
    };
    for (const auto& ask : asks) {
        std::vector<std::string> args = {"-c", "{line}"};
        args.insert(args.end(), ask.begin(), ask.end());
        args.push_back("hello");
        Session run = start(args);
        ASSERT_TRUE(console_wait_for(run, "Exit with Ctrl-Q")) << run.console_output;
        EXPECT_EQ(run.console_output.rfind(run.line.path + ": no modem lines\r\nRS232 Tolvane ", 0), 0u)
            << run.console_output;
        EXPECT_EQ(hex(line_read(run, 57)), hex(with_reset("hello \r"))) << ask[0];
        end_with_ctrl_q(run);
        EXPECT_EQ(run.console_output.find("no modem lines"), run.console_output.rfind("no modem lines"));
        close_pty(run.line);
        close_pty(run.console);
    }
}

TEST(ListLines, PrintsTheLinesOfAMadeUpMachine) {
    const std::string root = scratch_dir("list_machine");
    fake_sysfs::make_machine(root);
    std::string expected;
    for (const auto& [name, about] : fake_sysfs::machine_lines()) expected += name + "  " + about + "\r\n";
    const std::string empty = scratch_dir("list_nothing");
    for (const auto& [tree, listing] : {std::make_pair(root, expected), std::make_pair(empty, std::string("no serial lines found\r\n"))}) {
        setenv("TOLVANE_TEST_ROOT", tree.c_str(), 1);
        Session run = start({"--list", "-c", "{line}"});
        unsetenv("TOLVANE_TEST_ROOT");
        EXPECT_EQ(exit_code(wait_exit(run)), 0);
        EXPECT_EQ(run.console_output, listing);
        EXPECT_TRUE(line_drain(run, 50).empty()) << "the line was opened";
        close_pty(run.line);
        close_pty(run.console);
    }
}

namespace {

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct Waiting {
    std::string link;  // where the board will appear
    Session run;
};

// tolvane -w started on a name that does not exist yet, and seen waiting
// with the console raw (Ctrl-Q is a key).
Waiting start_waiting(const std::string& name, std::vector<std::string> args) {
    Waiting w;
    w.link = scratch_dir(name) + "/usb-board";
    args.insert(args.begin(), {"-w", "-c", w.link});
    w.run = start(args, without_line());
    EXPECT_TRUE(console_wait_for(w.run, "waiting for " + w.link + " (Ctrl-Q ends)\r\n")) << w.run.console_output;
    EXPECT_TRUE(console_wait_raw(w.run));
    return w;
}

}  // namespace

TEST(WaitAtStart, StartsAsUsualOnceTheBoardIsPluggedIn) {
    Waiting w = start_waiting("wait_start", {"hello"});
    console_type(w.run, {'x'});  // no line to go to: dropped
    pause_ms(300);
    Pty board = open_pty();
    ASSERT_EQ(symlink(board.path.c_str(), w.link.c_str()), 0);
    EXPECT_EQ(hex(pty_io::read_exactly(board.master, 57, 3000)), hex(with_reset("hello \r")));
    ASSERT_TRUE(console_wait_for(w.run, " on " + w.link + " with 115200 Baud\r\n\r\nExit with Ctrl-Q"));
    pty_io::write_all(board.master, bytes("up\r\n"));
    ASSERT_TRUE(console_wait_for(w.run, "up\r\n"));
    end_with_ctrl_q(w.run);
    EXPECT_TRUE(pty_io::read_until_quiet(board.master, 100).empty()) << "the key typed while waiting";
    EXPECT_TRUE(same_settings(settings(w.run.console.slave), w.run.console_at_start));
    close_pty(board);
    close_pty(w.run.console);
}

TEST(WaitAtStart, WithQuitItWaitsThenSends) {
    Waiting w = start_waiting("wait_start_quit", {"-q", "reset"});
    Pty board = open_pty();
    const struct termios before = settings(board.slave);
    ASSERT_EQ(symlink(board.path.c_str(), w.link.c_str()), 0);
    EXPECT_EQ(exit_code(wait_exit(w.run)), 0);
    EXPECT_EQ(hex(pty_io::read_until_quiet(board.master, 100)), hex(with_reset("reset \r")));
    EXPECT_TRUE(same_settings(settings(w.run.console.slave), w.run.console_at_start));
    EXPECT_TRUE(same_settings(settings(board.slave), before));
    close_pty(board);
    close_pty(w.run.console);
}

// Ctrl-Q ends the wait with status 0, a signal by the signal; the console
// gets its settings back either way.
TEST(WaitAtStart, CtrlQOrASignalEndsTheWait) {
    Waiting w = start_waiting("wait_start_ctrl_q", {});
    console_type(w.run, {0x11});
    EXPECT_EQ(exit_code(wait_exit(w.run)), 0);
    EXPECT_EQ(w.run.console_output.find("RS232"), std::string::npos);
    EXPECT_TRUE(same_settings(settings(w.run.console.slave), w.run.console_at_start));
    close_pty(w.run.console);

    Waiting s = start_waiting("wait_start_signal", {});
    kill(s.run.pid, SIGTERM);
    const int status = wait_exit(s.run);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_TRUE(same_settings(settings(s.run.console.slave), s.run.console_at_start));
    close_pty(s.run.console);
}

// What is there but cannot be had is no board to wait for.
TEST(WaitAtStart, ALineInUseIsStillRefused) {
    Pty line = open_pty();
    const int other = open(line.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    Session run = start({"-w", "-q", "-c", line.path}, without_line());
    EXPECT_EQ(exit_code(wait_exit(run)), 255);
    EXPECT_EQ(run.console_output, "open: " + line.path + ": line in use by another program\r\n");
    EXPECT_TRUE(pty_io::read_until_quiet(line.master, 100).empty());
    close(other);
    close_pty(run.console);
    close_pty(line);
}
