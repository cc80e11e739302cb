// Runs that end by what the target prints (--expect, --fail, --timeout)
// and texts sent when it asks for them (--send), headless as in CI.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "client/hostfs.h"
#include "tests/harness.h"

using namespace e2e;

namespace {

using Clock = std::chrono::steady_clock;

const std::string CLOSE_LINE = "<close the line>";
const std::string CTRL_Q = "<Ctrl-Q>";

// Past the reset, the banner read.
Session start_watched(std::vector<std::string> args, bool keyboard = false) {
    args.insert(args.end(), {"-c", "{line}"});
    Options options;
    options.stdin_null = !keyboard;
    Session s = start(args, options);
    EXPECT_EQ(hex(line_read(s, 50)), hex(reset_sequence()));
    EXPECT_TRUE(console_wait_for(s, "Exit with Ctrl-Q"));
    if (keyboard) {
        EXPECT_TRUE(console_wait_raw(s));
    }
    return s;
}

// Text from the target, then a request: its answer shows that the text was
// taken and the run goes on.
void write_and_go_on(Session& s, const std::string& text) {
    line_write(s, bytes(text + "\x02"));
    ASSERT_EQ(hex(line_read(s, 1)), hex({0x03})) << "the run ended after: " << text;
    line_write(s, {0x09});  // find next, with no search: -1
    ASSERT_EQ(hex(line_read(s, 2)), hex({0xFF, 0xFF}));
}

void finish(Session& s) {
    close_pty(s.line);
    close_pty(s.console);
}

struct StatusCase {
    const char* what;
    std::vector<std::string> options;
    std::vector<std::string> going_on;  // texts after each of which the run goes on
    std::string last;                   // the text that ends it, CLOSE_LINE or CTRL_Q
    int status;
    std::string said = {};              // on a line of its own
    int not_before_ms = 0;
};

}  // namespace

TEST(WatchedRun, EachEndHasItsStatus) {
    const std::vector<StatusCase> cases = {
        {"every expect, in order", {"--expect", "^boot$", "--expect", "PASS"}, {"PASS\r\n", "boot\r\n"},
         "all PASS\r\n", 0},
        {"fail after an expect matched", {"--expect", "start", "--expect", "PASS", "--fail", "FAIL"},
         {"start\r\n", "test 1 ok\r\n"}, "test 2 FAIL\r\n", 1, "failed: test 2 FAIL"},
        {"fail on an unfinished line", {"--fail", "FAIL|panic"}, {"FAI"}, "L", 1, "failed: FAIL"},
        {"time-out", {"--expect", "PASS", "--timeout", "0.5"}, {"working\r\n"}, "", 124,
         "timed out after 0.5 s (waiting for PASS)", 500},
        {"line lost", {"--expect", "PASS", "--timeout", "30"}, {"PAS"}, CLOSE_LINE, 255},
        {"pattern split across reads", {"--expect", "ALL PASSED"}, {"ALL PA"}, "SSED\r\n", 0},
        {"GNU escapes, and a line a backtracking engine takes minutes for",
         {"--expect", "\\bPASS\\b", "--fail", "(x+x+)+y|\\w+: FAILED"},
         {"PASSED\r\n", "y" + std::string(4000, 'x') + "\r\n"}, "all PASS.\r\n", 0},
        {"Ctrl-Q", {"--expect", "PASS", "--fail", "FAIL"}, {}, CTRL_Q, 0},
    };
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(c.what);
        const auto started = Clock::now();
        Session s = start_watched(c.options, c.last == CTRL_Q);
        for (const std::string& text : c.going_on) {
            write_and_go_on(s, text);
            // The next read must take what follows, or the split is not tested.
            ASSERT_TRUE(console_wait_for(s, text.substr(0, text.find_first_of("\r\n"))));
        }
        if (c.last == CLOSE_LINE) {
            close(s.line.master);
            s.line.master = -1;
        } else if (c.last == CTRL_Q) {
            console_type(s, {0x11});
        } else {
            line_write(s, bytes(c.last));
        }
        EXPECT_EQ(exit_code(wait_exit(s, 10000)), c.status) << s.console_output;
        if (!c.said.empty()) {
            const std::string shown = s.console_output;
            const size_t at = shown.find(c.said + "\r\n");
            EXPECT_NE(at, std::string::npos) << shown;
            EXPECT_TRUE(at != std::string::npos && at > 0 && shown[at - 1] == '\n') << "not on its own line: " << shown;
        }
        if (c.not_before_ms > 0) {
            EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(c.not_before_ms));
        }
        finish(s);
    }
}

// A board that stops in the middle of a request: the time-out still ends
// the run.
TEST(WatchedRun, TheTimeOutEndsARequestThatNeverEnds) {
    Session s = start_watched({"--timeout", "0.3"});
    line_write(s, {0x02});
    ASSERT_EQ(hex(line_read(s, 1)), hex({0x03}));
    line_write(s, {0x04, 0x00});  // get character, half a handle
    EXPECT_EQ(exit_code(wait_exit(s, 5000)), 124);
    EXPECT_NE(s.console_output.find("timed out after 0.3 s"), std::string::npos) << s.console_output;
    finish(s);
}

// With -w, a board that went away and never came back.
TEST(WatchedRun, TheTimeOutEndsTheWaitForALineThatWentAway) {
    const std::string dir = scratch_dir("watch_gone");
    const std::string link = dir + "/usb-board";
    Pty line = open_pty();
    ASSERT_EQ(symlink(line.path.c_str(), link.c_str()), 0);
    Options options;
    options.stdin_null = true;
    options.line_pty = false;
    Session s = start({"-w", "--timeout", "1", "-c", link}, options);
    ASSERT_EQ(hex(pty_io::read_exactly(line.master, 50, 3000)), hex(reset_sequence()));
    unlink(link.c_str());
    close_pty(line);
    ASSERT_TRUE(console_wait_for(s, "waiting for " + link));
    EXPECT_EQ(exit_code(wait_exit(s)), 124) << s.console_output;
    EXPECT_NE(s.console_output.find("timed out after 1 s"), std::string::npos) << s.console_output;
    close_pty(s.console);
}

// A send goes out at the start, or once the expect before it matched.
TEST(WatchedRun, SendsGoOutWhenTheirExpectMatched) {
    Session s = start_watched(
        {"--send", "hello\\r", "--expect", "sim> ", "--send", "run\\x03\\r", "--expect", "PASS"});
    // Before the banner's wait is done the start's text is there.
    EXPECT_EQ(hex(line_read(s, 6)), hex(bytes("hello\r")));
    write_and_go_on(s, "booting\r\n");
    EXPECT_TRUE(line_drain(s, 200).empty()) << "sent before its expect matched";
    line_write(s, bytes("sim> "));  // the prompt waits for its command, no newline
    EXPECT_EQ(hex(line_read(s, 6)), hex({'r', 'u', 'n', 0x10, 0x03, '\r'})) << "ETX goes escaped";
    write_and_go_on(s, "run\r\nrunning\r\n");
    line_write(s, bytes("PASS\r\n"));
    EXPECT_EQ(exit_code(wait_exit(s)), 0) << s.console_output;
    finish(s);
}

// The runner writes its report, one file closed and one left open, then
// prints PASS: both are whole on disk once tolvane has ended.
TEST(WatchedRun, AReportWrittenJustBeforePassIsOnDisk) {
    const std::string dir = scratch_dir("watch_report");
    Options options;
    options.stdin_null = true;
    options.workdir = dir;
    Session s = start({"-d", dir, "--expect", "^PASS$", "--fail", "FAIL", "-c", "{line}"}, options);
    ASSERT_EQ(hex(line_read(s, 50)), hex(reset_sequence()));
    target_attach(s);
    std::string report = "<testsuite tests=\"3\">\n";
    while (report.size() < 200000) report += "  <testcase name=\"case " + std::to_string(report.size()) + "\"/>\n";
    report += "</testsuite>\n";
    const std::string log(50000, 'x');

    const tolvane::host_file closed = tolvane::host_fopen("report.xml", "w");
    const tolvane::host_file open = tolvane::host_fopen("run.log", "w");
    ASSERT_NE(closed, 0u);
    ASSERT_NE(open, 0u);
    EXPECT_EQ(tolvane::host_fwrite(report.data(), static_cast<long>(report.size()), closed),
              static_cast<long>(report.size()));
    EXPECT_EQ(tolvane::host_fclose(closed), 0);
    EXPECT_EQ(tolvane::host_fwrite(log.data(), static_cast<long>(log.size()), open), static_cast<long>(log.size()));
    line_write(s, bytes("PASS\r\n"));
    EXPECT_EQ(exit_code(wait_exit(s)), 0) << s.console_output;
    EXPECT_FALSE(pty_io::target_timed_out());
    EXPECT_EQ(pty_io::file_text(dir + "/report.xml"), report);
    EXPECT_EQ(pty_io::file_text(dir + "/run.log"), log);
    finish(s);
}
