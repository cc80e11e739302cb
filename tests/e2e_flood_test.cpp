// A board that floods the line while standard output is drained as fast as
// it comes, slowly, or not at all any more: every run reaches its end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/harness.h"

using namespace e2e;

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t FLOOD_BYTES = 2 * 1024 * 1024;

// 2 MB of text lines, then the line --expect waits for.
std::string flood_text() {
    const std::string line = std::string(99, 'x') + "\n";
    std::string text;
    while (text.size() < FLOOD_BYTES) text += line;
    return text + "@END\n";
}

struct Drained {
    int status = -1;  // the exit status, -1: still running when the test gave up
    size_t shown = 0;  // bytes read from standard output
    bool end_shown = false;
};

// Runs tolvane --expect @END over a board that sends flood_text() as fast
// as the line takes it. Standard output (a pipe, or the console) is read
// piece bytes at a time, pause_us after each read.
Drained flood_until_end(const std::vector<std::string>& extra, bool console, size_t piece, int pause_us) {
    std::vector<std::string> args{"-c", "{line}", "--no-erase", "--expect", "@END", "--timeout", "20"};
    args.insert(args.end(), extra.begin(), extra.end());
    Options options;
    options.stdout_pipe = !console;
    options.stdin_null = !console;
    Session s = start(args, options);
    const int out = console ? s.console.master : s.stdout_pipe;
    fcntl(s.line.master, F_SETFL, fcntl(s.line.master, F_GETFL) | O_NONBLOCK);
    fcntl(out, F_SETFL, fcntl(out, F_GETFL) | O_NONBLOCK);

    const std::string board = flood_text();
    size_t sent = 0;
    std::string tail;  // the last bytes shown, where @END is looked for
    Drained d;
    std::vector<char> buf(std::max<size_t>(piece, 4096));
    const auto give_up = Clock::now() + std::chrono::seconds(30);
    bool ended = false;
    while (!ended && Clock::now() < give_up) {
        pollfd p[3] = {{sent < board.size() ? s.line.master : -1, POLLOUT, 0}, {out, POLLIN, 0}, {s.line.master, POLLIN, 0}};
        poll(p, 3, 20);
        if (p[0].revents & POLLOUT) {
            const ssize_t n = write(s.line.master, board.data() + sent, std::min<size_t>(4096, board.size() - sent));
            if (n > 0) sent += static_cast<size_t>(n);
        }
        if (p[2].revents & POLLIN) (void)read(s.line.master, buf.data(), buf.size());  // whatever tolvane sends
        int status = 0;
        if (waitpid(s.pid, &status, WNOHANG) == s.pid) {
            s.pid = -1;
            d.status = exit_code(status);
            ended = true;
        }
        // After the end, what is left in the pipe or the console.
        for (;;) {
            const ssize_t n = read(out, buf.data(), piece);
            if (n <= 0) break;
            d.shown += static_cast<size_t>(n);
            tail.append(buf.data(), static_cast<size_t>(n));
            if (tail.size() > 64) tail.erase(0, tail.size() - 64);
            if (tail.find("@END") != std::string::npos) d.end_shown = true;
            if (!ended) {
                if (pause_us > 0) std::this_thread::sleep_for(std::chrono::microseconds(pause_us));
                break;
            }
        }
    }
    close_all(s);  // ends it if it froze
    if (s.stdout_pipe >= 0) close(s.stdout_pipe);
    return d;
}

}  // namespace

// 2 MB then @END: every run ends 0 with everything shown, whether standard
// output is a pipe drained as fast as it comes, the same with a log, a
// console, or a pipe read slowly, a page at a time.
TEST(Flood, TwoMegabytesThenTheExpectedLineEndEveryRun) {
    const std::string log = scratch_dir("flood") + "/session.log";
    const struct {
        const char* what;
        std::vector<std::string> args;
        bool console;
        size_t piece;
        int pause_us;
        int runs;
    } cases[] = {
        {"a pipe", {}, false, 65536, 0, 10},
        {"a pipe and -l", {"-l", log}, false, 65536, 0, 10},
        {"a console", {}, true, 65536, 0, 10},
        {"a slow pipe", {}, false, 4096, 1000, 2},
    };
    for (const auto& c : cases) {
        for (int run = 1; run <= c.runs; ++run) {
            unlink(log.c_str());
            const Drained d = flood_until_end(c.args, c.console, c.piece, c.pause_us);
            EXPECT_EQ(d.status, 0) << c.what << ", run " << run << ": " << d.shown << " bytes shown";
            EXPECT_GE(d.shown, FLOOD_BYTES) << c.what << ", run " << run;
            EXPECT_TRUE(d.end_shown) << c.what << ", run " << run;
            if (!c.args.empty()) {
                EXPECT_GE(pty_io::file_text(log).size(), FLOOD_BYTES) << c.what << ", run " << run;
            }
            if (d.status != 0) break;  // one frozen run says it; the rest would only take their 20 s
        }
    }
}

// tolvane ... | head -c 100 with a talking board: once the reader has gone
// the program ends within a second, status 141 as for SIGPIPE, with the
// line and the console set back as they were.
TEST(Flood, AClosedStandardOutputEndsTheRunWithTheDevicesSetBack) {
    Options options;
    options.stdout_pipe = true;
    Session s = start({"-c", "{line}", "--no-erase"}, options);
    ASSERT_TRUE(console_wait_raw(s));
    int status = -1;
    long took_ms = 0;
    {
        LineFlood flood(s.line.master);
        EXPECT_EQ(pty_io::read_exactly(s.stdout_pipe, 100, 3000).size(), 100u);
        close(s.stdout_pipe);
        s.stdout_pipe = -1;
        const Clock::time_point closed = Clock::now();
        status = wait_exit(s, 5000);
        took_ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - closed).count());
    }
    EXPECT_EQ(exit_code(status), 141);
    EXPECT_LT(took_ms, 2000);
    EXPECT_TRUE(same_settings(settings(s.line.slave), s.line_at_start)) << "the line's settings";
    EXPECT_TRUE(same_settings(settings(s.console.slave), s.console_at_start)) << "the console's settings";
    close_all(s);
}
