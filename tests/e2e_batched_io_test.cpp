// tolvane reads and writes the line and the console in blocks. What the
// line and the console carry must stay the same, byte for byte and in order,
// however the bytes fall into blocks.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "tests/harness.h"

using namespace e2e;

namespace {

Session open_terminal(const std::vector<std::string>& args) {
    Session s = start(args);
    EXPECT_EQ(hex(line_read(s, 50)), hex(reset_sequence()));
    EXPECT_TRUE(console_wait_for(s, "Exit with Ctrl-Q\r\n\r\n"));
    EXPECT_TRUE(console_wait_raw(s));
    s.console_output.clear();
    return s;
}

void end(Session& s) {
    console_type(s, {0x11});
    EXPECT_EQ(exit_code(wait_exit(s)), 0);
    EXPECT_TRUE(same_settings(settings(s.line.slave), s.line_at_start));
    EXPECT_TRUE(same_settings(settings(s.console.slave), s.console_at_start));
    close_pty(s.line);
    close_pty(s.console);
}

}  // namespace

TEST(BatchedIo, RequestsAndTextInOneBlock) {
    Session s = open_terminal({"-c", "{line}"});
    // A target that does not wait for the ready answer: two requests and
    // text around them arrive in one read.
    line_write(s, bytes("a\x02\x09" "b\x02\x09" "c"));
    EXPECT_EQ(hex(line_read(s, 6)), hex({0x03, 0xFF, 0xFF, 0x03, 0xFF, 0xFF}));
    EXPECT_TRUE(console_wait_for(s, "abc"));
    EXPECT_EQ(s.console_output, "abc");
    end(s);
}

TEST(BatchedIo, ARequestSplitAcrossManyReads) {
    Session s = open_terminal({"-r", "-c", "{line}"});
    const Bytes request = {0x02, 0x00, 'n', 'o', 'p', 'e', 0x03, 'r', 0x03};
    for (uint8_t b : request) {
        line_write(s, {b});
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(hex(line_read(s, 5)), hex({0x03, 0, 0, 0, 0}));
    // The DLE of an escaped pair in one read, its byte in the next.
    line_write(s, {'x', 0x10});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    line_write(s, {0x02, 'y'});
    EXPECT_TRUE(console_wait_for(s, "fopen(nope,r) = 0\r\nx\x02y"));
    EXPECT_TRUE(line_drain(s, 50).empty());
    end(s);
}

TEST(BatchedIo, AKeyGoesOutWhileTheTargetFloods) {
    Session s = open_terminal({"-c", "{line}"});
    auto flood = std::make_unique<LineFlood>(s.line.master);
    std::atomic<bool> reading{true};
    std::thread console([&] {
        while (reading) console_drain(s, 10);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    console_type(s, {'k'});
    const Bytes got = line_read(s, 1, 2000);
    flood.reset();
    reading = false;
    console.join();
    EXPECT_EQ(hex(got), hex({'k'})) << "the key waited for the flood to end";
    end(s);
}

// -q queues the reset and the words; all of them must leave before the
// line's old settings come back. Here the old settings turn LF into CR LF,
// so a late byte would show it.
TEST(BatchedIo, QuitSendsEveryWordBeforeTheSettingsComeBack) {
    Options options;
    options.prepare_line = [](int line) {
        struct termios t = settings(line);
        t.c_oflag |= OPOST | ONLCR;
        tcsetattr(line, TCSANOW, &t);
    };
    std::string word;
    while (word.size() < 20000) word += "line\n";
    Session s = start({"-q", "-c", "{line}", word}, options);
    Bytes got;
    std::thread reader([&] { got = pty_io::read_until_quiet(s.line.master, 500); });
    EXPECT_EQ(exit_code(wait_exit(s)), 0);
    reader.join();
    Bytes expected = reset_sequence();
    for (char c : word + " \r") expected.push_back(static_cast<uint8_t>(c));
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << "bytes lost, or sent after the settings came back";
    EXPECT_TRUE(same_settings(settings(s.line.slave), s.line_at_start));
    close_pty(s.line);
    close_pty(s.console);
}

// A reply the target does not take fills the line; a signal then must still
// put the line back and end tolvane, not wait on the queue for ever.
TEST(BatchedIo, ASignalWithAReplyQueuedRestoresTheLine) {
    const std::string dir = scratch_dir("batched_signal");
    {
        std::string big(1 << 20, 'z');
        FILE* f = std::fopen((dir + "/big").c_str(), "wb");
        ASSERT_TRUE(f);
        std::fwrite(big.data(), 1, big.size(), f);
        std::fclose(f);
    }
    Options options;
    options.workdir = dir;
    Session s = start({"-c", "{line}"}, options);
    ASSERT_TRUE(console_wait_raw(s));
    EXPECT_EQ(hex(line_read(s, 50)), hex(reset_sequence()));
    line_write(s, {0x02, 0x00, 'b', 'i', 'g', 0x03, 'r', 0x03});
    ASSERT_EQ(hex(line_read(s, 5)), hex({0x03, 0, 0, 0, 1}));
    // Read a megabyte, and take none of it.
    line_write(s, {0x02, 0x01, 0x00, 0x10, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(s.pid, SIGTERM);
    const int status = wait_exit(s, 3000);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_TRUE(same_settings(settings(s.line.slave), s.line_at_start));
    EXPECT_TRUE(same_settings(settings(s.console.slave), s.console_at_start));
    close_pty(s.line);
    close_pty(s.console);
}

// Text before a DLE whose data byte has not come yet shows while tolvane
// waits for that byte, and a signal then loses none of it.
TEST(BatchedIo, TextBeforeAWaitShowsAndASignalLosesNone) {
    Session s = open_terminal({"-c", "{line}"});
    line_write(s, bytes("shown\x10"));
    EXPECT_TRUE(console_wait_for(s, "shown", 2000)) << "held back while waiting";
    kill(s.pid, SIGTERM);
    const int status = wait_exit(s);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(s.console_output, "shown\r\n") << "and the line ended for the shell";
    close_pty(s.line);
    close_pty(s.console);
}
