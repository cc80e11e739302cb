// Sessions that outlive the line: -w waits for a board that went away (a
// USB board reset) to come back, -l keeps a copy of the session in a file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <thread>
#include <vector>

#include "client/hostfs.h"
#include "tests/harness.h"

using namespace e2e;

using pty_io::cpu_ticks;
using pty_io::file_text;

namespace {

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Points link at target in one step, as udev does with /dev/serial/by-id.
void point(const std::string& link, const std::string& target) {
    const std::string fresh = link + ".new";
    unlink(fresh.c_str());
    ASSERT_EQ(symlink(target.c_str(), fresh.c_str()), 0);
    ASSERT_EQ(rename(fresh.c_str(), link.c_str()), 0);
}

// The board goes away, and its name with it, as udev takes the link away;
// a freed pty number may be handed to another test meanwhile.
void unplug(Pty& line, const std::string& link) {
    point(link, link + ".gone");
    close_pty(line);
}

Options in_dir(const std::string& dir) {
    Options o;
    o.workdir = dir;
    o.line_pty = false;
    return o;
}

}  // namespace

TEST(Reconnect, WaitsForTheLineAndGoesOnWhenItIsBack) {
    const std::string dir = scratch_dir("reconnect");
    const std::string link = dir + "/usb-board";
    const std::string log = dir + "/board.log";
    Pty first = open_pty();
    point(link, first.path);
    Session s = start({"-w", "-r", "-l", log, "-c", link}, in_dir(dir));
    ASSERT_EQ(hex(pty_io::read_exactly(first.master, 50, 3000)), hex(reset_sequence()));
    ASSERT_TRUE(console_wait_raw(s));
    pty_io::write_all(first.master, bytes("booted\r\n"));
    ASSERT_TRUE(console_wait_for(s, "booted\r\n"));

    // The board resets: its line goes away.
    unplug(first, link);
    ASSERT_TRUE(console_wait_for(s, "waiting for " + link + " (Ctrl-Q ends)\r\n")) << s.console_output;
    EXPECT_NE(s.console_output.find("read: " + link + ": "), std::string::npos) << s.console_output;
    const long before = cpu_ticks(s.pid);
    pause_ms(2000);
    EXPECT_LE(cpu_ticks(s.pid) - before, 5) << "ticks of CPU while waiting";

    // It comes back under the same name, with another program's settings.
    Pty second = open_pty();
    struct termios cooked = settings(second.slave);
    cooked.c_lflag |= ICANON | ECHO;
    cooked.c_oflag |= OPOST | ONLCR;
    tcsetattr(second.slave, TCSANOW, &cooked);
    const auto plugged = std::chrono::steady_clock::now();
    point(link, second.path);
    ASSERT_TRUE(console_wait_for(s, link + " back\r\n", 2000)) << s.console_output;
    EXPECT_LT(std::chrono::steady_clock::now() - plugged, std::chrono::seconds(1));
    const struct termios now = settings(second.slave);
    EXPECT_EQ(now.c_iflag, tcflag_t(IGNBRK | IGNPAR));
    EXPECT_EQ(now.c_oflag, 0u);
    EXPECT_EQ(now.c_cflag & ~CBAUD, tcflag_t(CS8 | CREAD | CLOCAL));
    EXPECT_EQ(now.c_lflag, tcflag_t(FLUSHO));
    EXPECT_TRUE(pty_io::read_until_quiet(second.master, 200).empty()) << "nothing is sent to a board that restarted";

    // Text and file requests work on the new line.
    pty_io::write_all(second.master, bytes("again\r\n"));
    ASSERT_TRUE(console_wait_for(s, "again\r\n"));
    pty_io::target_attach(second.master, 3000);
    const tolvane::host_file f = tolvane::host_fopen("after.txt", "w");
    ASSERT_NE(f, 0u);
    EXPECT_EQ(tolvane::host_fputs("back", f), 1);
    EXPECT_EQ(tolvane::host_fclose(f), 0);
    EXPECT_EQ(file_text(dir + "/after.txt"), "back");

    // Gone again; Ctrl-Q while waiting ends it, the console as it was.
    unplug(second, link);
    ASSERT_TRUE(console_wait_for(s, "waiting for " + link));
    console_type(s, {'x', 0x11});
    EXPECT_EQ(exit_code(wait_exit(s)), 0);
    EXPECT_TRUE(same_settings(settings(s.console.slave), s.console_at_start));
    close_pty(s.console);

    // The log: the session as it showed, the reconnect marked around it.
    const std::string logged = file_text(log);
    const size_t lost = logged.find("--- line lost\nread: " + link);
    const size_t back = logged.find(link + " back\n--- line back\n");
    EXPECT_NE(lost, std::string::npos) << logged;
    EXPECT_NE(back, std::string::npos) << logged;
    EXPECT_LT(lost, back);
    EXPECT_NE(logged.find("booted\r\n"), std::string::npos);
    EXPECT_NE(logged.find("again\r\nfopen(after.txt,w) = "), std::string::npos) << logged;
}

// A request cut off by the line going away is dropped: nothing is done with
// the part of it that arrived, and keys typed meanwhile do not reach the
// board that comes back.
TEST(Reconnect, ARequestCutOffIsDropped) {
    const std::string dir = scratch_dir("reconnect_cut");
    const std::string link = dir + "/usb-board";
    { std::ofstream(dir + "/precious.txt") << "keep"; }
    Pty line = open_pty();
    point(link, line.path);
    Session s = start({"-w", "-c", link}, in_dir(dir));
    ASSERT_EQ(hex(pty_io::read_exactly(line.master, 50, 3000)), hex(reset_sequence()));
    ASSERT_TRUE(console_wait_raw(s));
    // Remove "precious.txt.bak": the line goes after "precious.txt".
    pty_io::write_all(line.master, {0x02});
    ASSERT_EQ(hex(pty_io::read_exactly(line.master, 1, 3000)), "03 ");
    pty_io::write_all(line.master, bytes("\x0aprecious.txt"));
    console_type(s, {'k'});
    pause_ms(100);
    unplug(line, link);
    ASSERT_TRUE(console_wait_for(s, "waiting for " + link));
    EXPECT_EQ(file_text(dir + "/precious.txt"), "keep");
    Pty back = open_pty();
    point(link, back.path);
    ASSERT_TRUE(console_wait_for(s, link + " back"));
    pty_io::write_all(back.master, bytes("up"));  // a pass of the loop on the new line
    ASSERT_TRUE(console_wait_for(s, "up"));
    EXPECT_TRUE(pty_io::read_until_quiet(back.master, 300).empty()) << "a key for the board that was";
    close_pty(back);
    console_type(s, {0x11});
    EXPECT_EQ(exit_code(wait_exit(s)), 0);
    close_pty(s.console);
}

// -w on a pty named by its number: once it has gone that number goes to the
// next pty made, another program's. The session ends as without -w, saying
// why, and never opens the new pty of that number.
TEST(Reconnect, APtyNamedByItsNumberIsNotWaitedFor) {
    Options options;
    options.line_pty = false;
    Pty line = open_pty();
    const std::string path = line.path;
    Session s = start({"-w", "-c", path}, options);
    ASSERT_EQ(hex(pty_io::read_exactly(line.master, 50, 3000)), hex(reset_sequence()));
    ASSERT_TRUE(console_wait_raw(s));
    close_pty(line);
    // The next ptys made, one perhaps with that number as soon as it is free.
    std::vector<Pty> others;
    const int status = wait_exit(s, 3000);
    for (int i = 0; i < 4; ++i) others.push_back(open_pty());
    EXPECT_EQ(exit_code(status), 255);
    EXPECT_NE(s.console_output.find("read: " + path + ": "), std::string::npos) << s.console_output;
    EXPECT_NE(s.console_output.find("not waiting for " + path + ": a pty that went away never comes back"),
              std::string::npos)
        << s.console_output;
    EXPECT_EQ(s.console_output.find("waiting for " + path + " (Ctrl-Q ends)"), std::string::npos) << s.console_output;
    for (Pty& other : others) {
        EXPECT_TRUE(pty_io::read_until_quiet(other.master, 100).empty()) << other.path;
        close_pty(other);
    }
    close_all(s);
}

TEST(SessionLog, HoldsTheSessionAsShownAndSurvivesAKill) {
    const std::string dir = scratch_dir("session_log");
    const std::string log = dir + "/board.log";
    { std::ofstream(log) << "an earlier run without its last newline"; }
    Options options;
    options.workdir = dir;
    Session s = start({"-r", "-l", log, "-c", "{line}"}, options);
    ASSERT_EQ(hex(line_read(s, 50)), hex(reset_sequence()));
    ASSERT_TRUE(console_wait_raw(s));
    // Every byte value the console shows, form feeds dropped, DLE pairs decoded.
    const Bytes sent = {'a', 0x00, 0x01, 0x0C, 0x1B, 0x7F, 0x80, 0xFF, 0x10, 0x02, 0x10, 0x0C, 0x03, '\r', '\n'};
    const std::string shown = std::string("a\x00\x01\x1b\x7f\x80\xff\x02\x03\r\n", 11);
    line_write(s, sent);
    line_write(s, {0x02});
    ASSERT_EQ(hex(line_read(s, 1)), "03 ");
    line_write(s, {0x00, 'n', 'o', 'n', 'e', 0x03, 'r', 0x03});
    EXPECT_EQ(hex(line_read(s, 4)), "00 00 00 00 ");
    ASSERT_TRUE(console_wait_for(s, "fopen(none,r) = 0\r\n"));
    kill(s.pid, SIGKILL);
    wait_exit(s);

    const std::string logged = file_text(log);
    const std::regex header(
        "an earlier run without its last newline\n"
        "--- tolvane [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} on " + s.line.path + "\n"
        "RS232 Tolvane .*\n\nExit with Ctrl-Q\n\n");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(logged, m, header)) << logged;
    EXPECT_EQ(m.position(0), 0);
    EXPECT_EQ(hex(bytes(m.suffix().str())), hex(bytes(shown + "fopen(none,r) = 0\n")));
    close_pty(s.line);
    close_pty(s.console);

    // The next run appends.
    Session again = start({"-q", "-l", log, "-c", "{line}"}, options);
    EXPECT_EQ(exit_code(wait_exit(again)), 0);
    EXPECT_EQ(file_text(log).find(logged), 0u) << "the log was not appended to";
    close_pty(again.line);
    close_pty(again.console);
}

TEST(SessionLog, ALogThatCannotBeOpenedEndsBeforeTheLine) {
    Session s = start({"-l", "/nonexistent/dir/board.log", "-c", "{line}"});
    EXPECT_EQ(exit_code(wait_exit(s)), 255);
    EXPECT_EQ(s.console_output, "open: /nonexistent/dir/board.log: No such file or directory\r\n");
    EXPECT_TRUE(line_drain(s, 100).empty()) << "the line was opened";
    EXPECT_TRUE(same_settings(settings(s.line.slave), s.line_at_start));
    close_pty(s.line);
    close_pty(s.console);
}
