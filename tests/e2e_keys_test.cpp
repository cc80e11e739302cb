// Keys against a line that is slower than the keyboard, or takes nothing at
// all: every key arrives, in order, and Ctrl-Q always ends the program soon.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "tests/harness.h"

using namespace e2e;

namespace {

using Clock = std::chrono::steady_clock;

long ms_since(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Printable keys numbered in order, so a lost or swapped block shows.
std::string numbered_keys(size_t size) {
    std::string keys;
    char line[32];
    for (int i = 0; keys.size() < size; ++i) {
        std::snprintf(line, sizeof line, "key %06d\r", i);
        keys += line;
    }
    keys.resize(size);
    return keys;
}

// Reads the line as a slow board does, about 400 KB/s in small gulps,
// until `want` bytes came or nothing came for two seconds.
std::string read_slowly(Session& run, size_t want) {
    std::string got;
    auto last = Clock::now();
    while (got.size() < want && ms_since(last) < 2000) {
        uint8_t buf[2048];
        const ssize_t n = pty_io::read_some(run.line.master, buf, sizeof buf, 5);
        if (n > 0) {
            got.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
            last = Clock::now();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return got;
}

// Writes what the descriptor takes within ms, without ever blocking.
void write_for(int fd, const std::string& bytes, int ms) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const auto start = Clock::now();
    for (size_t done = 0; done < bytes.size() && ms_since(start) < ms;) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    fcntl(fd, F_SETFL, flags);
}

Session started(const Options& options) {
    Session s = start({"-c", "{line}"}, options);
    EXPECT_EQ(hex(line_read(s, 50)), hex(reset_sequence()));
    EXPECT_TRUE(console_wait_for(s, "Exit with Ctrl-Q"));
    if (!options.stdin_pipe) {
        EXPECT_TRUE(console_wait_raw(s));
    }
    return s;
}

}  // namespace

// 100 KB of keys, typed on the console or piped into stdin, reach a line
// that reads slowly: complete and in order, run after run. The last keys go
// out as the line takes them, with nothing else happening.
TEST(Keys, ReachASlowLineCompleteAndInOrder) {
    const std::string keys = numbered_keys(100 * 1024);
    for (const bool piped : {false, true}) {
        for (int run = 0; run < 10; ++run) {
            const std::string what = std::string(piped ? "piped" : "typed") + ", run " + std::to_string(run);
            Options options;
            options.stdin_pipe = piped;
            Session s = started(options);
            const int keyboard = piped ? s.stdin_pipe : s.console.master;
            std::thread typist([&] {
                pty_io::write_all(keyboard, pty_io::bytes(keys));
                if (piped) close(s.stdin_pipe);  // the keyboard ends; the line is still served
            });
            const std::string arrived = read_slowly(s, keys.size());
            typist.join();
            EXPECT_EQ(arrived.size(), keys.size()) << what;
            EXPECT_TRUE(arrived == keys) << what << ": keys lost or out of order";
            if (piped) {
                kill(s.pid, SIGTERM);
                const int status = wait_exit(s);
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << what;
            } else {
                console_type(s, {0x11});
                EXPECT_EQ(exit_code(wait_exit(s)), 0) << what;
            }
            close_pty(s.line);
            close_pty(s.console);
        }
    }
}

// A line that takes nothing (a board halted at a breakpoint): a paste of
// 240 KB waits for it, and Ctrl-Q still ends the program within a second,
// also with more keys pasted after it, with both devices as they were.
TEST(Keys, CtrlQEndsSoonWhenTheLineTakesNothing) {
    // 240 KB kept; the same with a paste after Ctrl-Q; more than the key
    // queue holds, typed on the console, which is then still read for
    // Ctrl-Q while the rest is dropped.
    const struct {
        size_t kept;
        bool paste_after;
        bool said_dropped;
    } cases[] = {{240 * 1024, false, false}, {240 * 1024, true, false}, {1200 * 1024, false, true}};
    for (const auto& c : cases) {
        const std::string paste = numbered_keys(c.kept);
        Session s = started({});
        write_for(s.console.master, paste, 5000);
        const auto pressed = Clock::now();
        console_type(s, {0x11});
        if (c.paste_after) write_for(s.console.master, paste, 300);
        const int status = wait_exit(s, 5000);
        const long took = ms_since(pressed);
        EXPECT_EQ(exit_code(status), 0) << "kept " << c.kept << ", paste after: " << c.paste_after;
        EXPECT_LT(took, 1500) << "ms from Ctrl-Q to the end, kept " << c.kept << ", paste after: " << c.paste_after;
        EXPECT_EQ(s.console_output.find("keys dropped: the line takes none\r\n") != std::string::npos,
                  c.said_dropped)
            << "kept " << c.kept;
        EXPECT_TRUE(same_settings(settings(s.console.slave), s.console_at_start)) << "console";
        EXPECT_TRUE(same_settings(settings(s.line.slave), s.line_at_start)) << "line";
        close_pty(s.line);
        close_pty(s.console);
    }
}
