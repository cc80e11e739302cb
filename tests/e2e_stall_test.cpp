// Nothing a peer does freezes tolvane: a console or a log that nobody
// drains holds the board back, but Ctrl-Q, signals and the --timeout still
// end the run, in time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "tests/harness.h"

using namespace e2e;

namespace {

using Clock = std::chrono::steady_clock;

long ms_since(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

}  // namespace

// Standard output a pipe nobody reads (a CI log consumer that stalled): the
// time-out and a signal end the run all the same.
TEST(Stall, AConsoleNobodyReadsStillEndsByTheTimeOutOrASignal) {
    const struct {
        const char* what;
        std::vector<std::string> args;
        int signal;  // sent after a second, 0: none
        int status;
    } cases[] = {
        {"--timeout 2", {"--timeout", "2"}, 0, 124},
        {"SIGTERM", {}, SIGTERM, 128 + SIGTERM},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-c", "{line}"});
        Options options;
        options.stdout_pipe = true;  // and never read
        options.stdin_null = true;
        const Clock::time_point began = Clock::now();
        Session s = start(args, options);
        int status;
        {
            LineFlood flood(s.line.master);
            if (c.signal) {
                std::this_thread::sleep_for(std::chrono::seconds(1));
                kill(s.pid, c.signal);
            }
            status = wait_exit(s, 6000);
        }
        const int code = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : exit_code(status);
        EXPECT_EQ(code, c.status) << c.what;
        EXPECT_LT(ms_since(began), 4000) << c.what;
        close(s.stdout_pipe);
        close_pty(s.line);
        close_pty(s.console);
    }
}

// -l on a FIFO whose reader stopped reading: Ctrl-Q still ends the session.
TEST(Stall, CtrlQEndsASessionWhoseLogFifoIsFull) {
    const std::string dir = scratch_dir("stall-fifo");
    const std::string fifo = dir + "/log";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // and never reads
    ASSERT_GE(reader, 0);
    Session s = start({"-l", fifo, "-c", "{line}"});
    ASSERT_TRUE(console_wait_raw(s));
    Clock::time_point asked;
    {
        LineFlood flood(s.line.master);
        std::this_thread::sleep_for(std::chrono::seconds(1));  // the FIFO fills
        asked = Clock::now();
        console_type(s, {0x11});
        EXPECT_EQ(exit_code(wait_exit(s, 5000)), 0);
    }
    EXPECT_LT(ms_since(asked), 2000) << "Ctrl-Q within the patience for the log";
    close(reader);
    close_pty(s.line);
    close_pty(s.console);
}
