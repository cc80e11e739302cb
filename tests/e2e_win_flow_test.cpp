// tolvane-win moving bytes as tolvane does: board output in blocks to a
// redirected standard output and to the console, keys piped in or pasted
// complete and in order, Ctrl-Q within a second in a request, a headless
// run that goes on serving, an idle program that sleeps, and the statuses
// of a watched run.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "client/hostfs.h"
#include "tests/win_harness.h"

using namespace win_e2e;
using namespace tolvane;

namespace {

using Clock = std::chrono::steady_clock;

// Bytes that are all shown as they are: no STX, DLE or form feed.
Bytes board_text(size_t size) {
    Bytes text(size);
    for (size_t i = 0; i < size; ++i) {
        unsigned char b = static_cast<unsigned char>((i * 7 + i / 251) & 0xFF);
        if (b == 0x02 || b == 0x10 || b == 0x0C) b = 'x';
        text[i] = b;
    }
    return text;
}

// Keys that travel as they are: printable, no Ctrl-Q.
std::string typed_text(size_t size) {
    std::string text(size, ' ');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('!' + (i * 13 + i / 91) % 94);
    return text;
}

std::string as_text(const Bytes& b) { return std::string(b.begin(), b.end()); }

// A program on its own port with the reset read, keys piped.
struct PipedRun {
    explicit PipedRun(int number, std::vector<std::string> more = {}) {
        dir = scratch_dir("win-flow-" + std::to_string(number));
        line = line_open(number);
        more.insert(more.end(), {"-c", "COM" + std::to_string(number)});
        run = start(more, dir, Keys::piped);
        EXPECT_TRUE(output_wait_for(run, "Exit with Ctrl-Q\r\n\r\n")) << run.output << run.errors;
        EXPECT_EQ(hex(line_read(line, 50)), hex(reset_sequence()));
        run.output.clear();
    }
    ~PipedRun() {
        kill_run(run);
        line_close(line);
    }
    std::string dir;
    Line line;
    Program run;
};

}  // namespace

TEST(WinFlow, TwoMegabytesReachARedirectedOutputExactly) {
    PipedRun r(70);
    const Bytes text = board_text(2 << 20);
    std::thread board([&] { line_write(r.line, text); });
    output_wait_size(r.run, text.size(), 60000);
    board.join();
    output_collect(r.run);
    EXPECT_EQ(r.run.output.size(), text.size());
    EXPECT_TRUE(r.run.output == as_text(text)) << "the bytes differ";
}

// 2 MB then @END into a pipe drained as it comes: every run ends 0, the
// text all there.
TEST(WinFlow, TwoMegabytesThenTheExpectedLineEndEveryRun) {
    Bytes text = board_text(2 << 20);
    const std::string end = "\n@END\n";
    text.insert(text.end(), end.begin(), end.end());
    for (int run = 1; run <= 3; ++run) {
        PipedRun r(77, {"--expect", "@END", "--timeout", "30"});
        // Never blocked: a program that froze must not keep the test.
        std::atomic<bool> stop{false};
        fcntl(r.line.master, F_SETFL, fcntl(r.line.master, F_GETFL) | O_NONBLOCK);
        std::thread board([&] {
            for (size_t sent = 0; sent < text.size() && !stop;) {
                pollfd p{r.line.master, POLLOUT, 0};
                if (poll(&p, 1, 50) <= 0) continue;
                const ssize_t n = write(r.line.master, text.data() + sent, std::min<size_t>(4096, text.size() - sent));
                if (n > 0) sent += static_cast<size_t>(n);
            }
        });
        const int status = finish(r.run, 40000);
        stop = true;
        board.join();
        EXPECT_EQ(status, 0) << "run " << run;
        EXPECT_GE(r.run.output.size(), text.size()) << "run " << run;
        if (status != 0) break;
    }
}

// tolvane-win ... | head -c 100 with a talking board: once the reader has
// gone the program ends within 2 s with 141, as tolvane does.
TEST(WinFlow, AClosedStandardOutputEndsTheProgramWith141) {
    PipedRun r(76);
    std::atomic<bool> stop{false};
    fcntl(r.line.master, F_SETFL, fcntl(r.line.master, F_GETFL) | O_NONBLOCK);
    std::thread board([&] {
        const std::string text(4096, 'x');
        while (!stop) {
            pollfd p{r.line.master, POLLOUT, 0};
            if (poll(&p, 1, 50) > 0 && (p.revents & POLLOUT)) (void)!write(r.line.master, text.data(), text.size());
        }
    });
    EXPECT_TRUE(output_wait_size(r.run, 100));
    close(r.run.out_fd);
    r.run.out_fd = -1;
    const Clock::time_point closed = Clock::now();
    const int status = finish(r.run, 5000);
    const auto took = Clock::now() - closed;
    stop = true;
    board.join();
    EXPECT_EQ(status, 141);
    EXPECT_LT(took, std::chrono::milliseconds(2000));
}

TEST(WinFlow, PipedKeysReachTheLineCompleteAndInOrderThenCtrlQEnds) {
    PipedRun r(71);
    const std::string keys = typed_text(100 * 1024);
    std::thread typist([&] { keys_write(r.run, keys); });
    const Bytes got = line_read(r.line, keys.size(), 60000);
    typist.join();
    EXPECT_EQ(got.size(), keys.size());
    EXPECT_TRUE(as_text(got) == keys) << "keys lost or out of order";
    keys_write(r.run, "\x11");
    EXPECT_EQ(finish(r.run), 0);
}

// A request the board leaves unfinished (STX, a write's code, nothing
// more): Ctrl-Q still ends the program, within a second.
TEST(WinFlow, CtrlQInARequestWithASilentBoardEndsItWithinASecond) {
    PipedRun r(72);
    line_write(r.line, {0x02});
    EXPECT_EQ(hex(line_read(r.line, 1)), "03 ");
    line_write(r.line, bytes("\x10\x02"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const Clock::time_point typed = Clock::now();
    keys_write(r.run, "\x11");
    EXPECT_EQ(finish(r.run), 0);
    EXPECT_LT(Clock::now() - typed, std::chrono::milliseconds(1000));
}

// Keys piped in that end: the program goes on serving the line, as tolvane
// does headless.
TEST(WinFlow, AfterPipedKeysEndTheLineIsStillServed) {
    PipedRun r(73);
    keys_write(r.run, "ok");
    keys_close(r.run);
    EXPECT_EQ(as_text(line_read(r.line, 2)), "ok");
    target_attach(r.line);
    const host_file f = host_fopen("after.txt", "wb");
    ASSERT_NE(f, 0u);
    EXPECT_GE(host_fputs("served\n", f), 0);
    EXPECT_EQ(host_fclose(f), 0);
    EXPECT_FALSE(target_timed_out());
    EXPECT_EQ(pty_io::file_text(r.dir + "/after.txt"), "served\n");
}

// Idle, the program sleeps in its wait: a generous bound for a loaded
// machine, far below a polling loop's 2.5 CPU-s.
TEST(WinFlow, AnIdleProgramSleeps) {
    PipedRun r(74);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double before = cpu_seconds(r.run);
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double used = cpu_seconds(r.run) - before;
    EXPECT_LT(used, 0.5) << "CPU-s in 10 s, program and Wine server";
}

// The board's text, the patterns and what the run ends with; the verdict
// on standard error, as every message.
TEST(WinFlow, AWatchedRunEndsWithItsStatus) {
    const struct {
        std::vector<std::string> options;
        const char* board;
        int status;
        const char* said;
    } cases[] = {
        {{"--expect", "READY", "--expect", "PASS"}, "PASS\r\nREADY\r\nPAS", -1, nullptr},
        {{"--expect", "READY", "--expect", "PASS"}, "READY\r\nall PASS\r\n", 0, nullptr},
        {{"--expect", "PASS", "--fail", "FAIL"}, "test 1 FAIL\r\nPASS\r\n", 1, "failed: test 1 FAIL\n"},
        {{"--expect", "PASS", "--timeout", "1"}, "nothing\r\n", 124, "timed out after 1 s (waiting for PASS)\n"},
        // The GNU escapes, as tolvane takes them.
        {{"--expect", "\\bPASS\\b", "--fail", "^\\w+: FAILED"}, "PASSED\r\ntest_2: FAILED\r\n", 1,
         "failed: test_2: FAILED\n"},
    };
    int number = 76;
    for (const auto& c : cases) {
        PipedRun r(number++, c.options);
        line_write(r.line, bytes(c.board));
        const int status = finish(r.run, c.status < 0 ? 1500 : 10000);
        EXPECT_EQ(status, c.status) << c.board;
        if (c.said) {
            EXPECT_NE(dos_newlines_to_unix(r.run.errors).find(c.said), std::string::npos) << r.run.errors;
            EXPECT_EQ(dos_newlines_to_unix(r.run.output).find(c.said), std::string::npos) << r.run.output;
        }
    }
    // The line going away ends a watched run with 255.
    PipedRun lost(number, {"--expect", "PASS"});
    line_close(lost.line);
    EXPECT_EQ(finish(lost.run), 255);
}

// -w: a port that goes away (its device closed) is waited for, and the
// session goes on once it is back, nothing sent to it.
TEST(WinFlow, APortThatGoesAwayIsWaitedFor) {
    PipedRun r(75, {"-w"});
    line_close(r.line);
    EXPECT_TRUE(output_wait_for(r.run, "waiting for COM75 (Ctrl-Q ends)\r\n")) << r.run.output;
    EXPECT_EQ(r.run.errors, "read: COM75: line closed\r\n") << "the failure on standard error";
    r.line = line_open(75);
    EXPECT_TRUE(output_wait_for(r.run, "COM75 back\r\n")) << r.run.output;
    EXPECT_EQ(hex(line_drain(r.line, 300)), "") << "nothing is sent to the port";
    line_write(r.line, bytes("again\r\n"));
    EXPECT_TRUE(output_wait_for(r.run, "again\r\n")) << r.run.output;
    keys_write(r.run, "k");
    EXPECT_EQ(hex(line_read(r.line, 1)), "6B ");
    keys_write(r.run, "\x11");
    EXPECT_EQ(finish(r.run), 0);
}

// A paste into the Wine console: every key reaches the line, in order;
// and the board's text reaches the console complete (the log holds what
// the console showed).
TEST(WinFlow, APasteInTheConsoleReachesTheLineComplete) {
    const std::string dir = scratch_dir("win-flow-paste");
    Line line = line_open(82);
    Pane pane = pane_start({"-l", "board.log", "-c", "COM82"}, dir);
    ASSERT_TRUE(pane_started(pane)) << pane_text(pane);
    ASSERT_EQ(hex(line_read(line, 50)), hex(reset_sequence()));
    const std::string keys = typed_text(100 * 1024);
    pane_paste(pane, keys);
    const Bytes got = line_read(line, keys.size(), 60000);
    EXPECT_EQ(got.size(), keys.size());
    EXPECT_TRUE(as_text(got) == keys) << "keys lost or out of order";
    const Bytes text = board_text(2 << 20);
    std::thread board([&] { line_write(line, text); });
    board.join();
    line_write(line, bytes("\r\nend of the board's text\r\n"));
    EXPECT_TRUE(pane_wait_for(pane, "end of the board's text", 60000)) << pane_text(pane);
    pane_keys(pane, {"C-q"});
    EXPECT_EQ(pane_exit_status(pane), 0);
    pane_close(pane);
    line_close(line);
    const std::string logged = pty_io::file_text(dir + "/board.log");
    EXPECT_NE(logged.find(as_text(text) + "\r\nend of the board's text\r\n"), std::string::npos)
        << "the console did not show all of it";
}
