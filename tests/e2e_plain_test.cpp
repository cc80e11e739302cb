// A terminal for boards that do not use the file service: --plain, paced
// output, a speed changed while running, and the verdicts of a watched run
// on standard error.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/harness.h"
#include "tests/line_speed.h"

using namespace e2e;

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t CTRL_Q = 0x11, CTRL_T = 0x14, STX = 0x02, ETX = 0x03, DLE = 0x10, ESC = 0x1B;

long ms_since(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Started on {line} with args, the banner shown and the console raw; the
// reset read off the line unless the run sends none.
Session started(std::vector<std::string> args, bool sends_reset) {
    args.insert(args.begin(), {"-c", "{line}"});
    Session run = start(args);
    if (sends_reset) {
        EXPECT_EQ(hex(line_read(run, 50)), hex(reset_sequence()));
    }
    EXPECT_TRUE(console_wait_for(run, "Exit with Ctrl-Q\r\n\r\n")) << run.console_output;
    EXPECT_TRUE(console_wait_raw(run));
    return run;
}

void quit_and_close(Session& run) {
    end_with_ctrl_q(run);
    close_all(run);
}

}  // namespace

// Keys, as typed, with and without --plain: the link's marks travel
// escaped only where the file service could mistake them.
TEST(Plain, KeysGoOutAsTyped) {
    const struct {
        const char* what;
        std::vector<std::string> args;
        bool sends_reset;
        Bytes keys;
        Bytes sent;
    } cases[] = {
        {"--plain: Ctrl-B, Ctrl-C, Ctrl-P bare", {"--plain"}, false, {STX, ETX, DLE, 'x'}, {STX, ETX, DLE, 'x'}},
        {"--plain with --local-echo", {"--plain", "--local-echo"}, false, {ETX, 'y'}, {ETX, 'y'}},
        {"without it: escaped for the link", {}, true, {STX, ETX, DLE, 'x'}, {DLE, STX, DLE, ETX, DLE, DLE, 'x'}},
        {"--plain: the command key still works", {"--plain"}, false, {'a', CTRL_T, CTRL_T, 'b'}, {'a', CTRL_T, 'b'}},
    };
    for (const auto& c : cases) {
        Session run = started(c.args, c.sends_reset);
        EXPECT_EQ(hex(line_drain(run, 150)), "") << c.what << ": nothing more at start";
        console_type(run, c.keys);
        EXPECT_EQ(hex(line_read(run, c.sent.size())), hex(c.sent)) << c.what;
        EXPECT_EQ(hex(line_drain(run, 150)), "") << c.what;
        quit_and_close(run);
    }
}

// A frame from the board is text under --plain: shown as its bytes, never
// answered, whatever follows it.
TEST(Plain, FramesFromTheBoardAreShownAndNeverAnswered) {
    Session run = started({"--plain"}, false);
    EXPECT_NE(run.console_output.find("plain"), std::string::npos) << "the banner says so: " << run.console_output;
    const size_t from = run.console_output.size();
    // An open request as the file service would take it, then boot noise.
    const Bytes frame = {STX, 0x00, 'a', ETX, 'r', ETX, DLE, STX, STX, STX, 'e', 'n', 'd'};
    line_write(run, frame);
    EXPECT_TRUE(console_wait_for(run, "end")) << run.console_output.substr(from);
    EXPECT_EQ(hex(bytes(run.console_output.substr(from))), hex(frame));
    EXPECT_EQ(hex(line_drain(run, 300)), "") << "nothing answered";
    quit_and_close(run);
}

// Paced output: each byte waits its moment, a CR its own; Ctrl-Q never
// waits behind the paced keys.
TEST(Pacing, BytesGoAtTheirMomentsAndCtrlQAtOnce) {
    const struct {
        const char* what;
        std::vector<std::string> args;
        std::string keys;
        long at_least_ms;  // from the first key typed to the last byte on the line
        long at_most_ms;
    } cases[] = {
        {"--output-delay 20: ten keys", {"--output-delay", "20"}, "0123456789", 150, 2000},
        {"--output-line-delay 300: after the CR", {"--output-line-delay", "300"}, "ab\rc", 250, 2000},
        {"both", {"--output-delay", "10", "--output-line-delay", "200"}, "a\rb\rc", 400, 2500},
        {"no delay: at once", {}, "0123456789", 0, 500},
    };
    for (const auto& c : cases) {
        Session run = started(c.args, true);
        const auto typed = Clock::now();
        console_type(run, bytes(c.keys));
        EXPECT_EQ(hex(line_read(run, c.keys.size(), 4000)), hex(bytes(c.keys))) << c.what;
        const long took = ms_since(typed);
        EXPECT_GE(took, c.at_least_ms) << c.what;
        EXPECT_LE(took, c.at_most_ms) << c.what;
        quit_and_close(run);
    }

    // 100 keys at 200 ms each would take 20 s.
    Session run = start({"-c", "{line}", "--no-erase", "--output-delay", "200"});
    EXPECT_TRUE(console_wait_raw(run));
    console_type(run, bytes(std::string(100, 'k')));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto quit = Clock::now();
    console_type(run, {CTRL_Q});
    EXPECT_EQ(exit_code(wait_exit(run, 3000)), 0);
    EXPECT_LT(ms_since(quit), 1200) << "Ctrl-Q waits for no paced key";
    close_all(run);
}

// Ctrl-T B: the speed typed on the program's own line; Enter sets it,
// Esc leaves it. Nothing typed there reaches the board.
TEST(SpeedCommand, EnterSetsItAndEscLeavesIt) {
    const struct {
        const char* what;
        Bytes keys;
        long speed;
        std::string shown;
    } cases[] = {
        {"57600 Enter", {CTRL_T, 'B', '5', '7', '6', '0', '0', '\r', 'k'}, 57600, "speed: 57600\r\n{line}: 57600 Baud\r\n"},
        {"a digit taken back", {CTRL_T, 'B', '9', '6', '7', 0x7F, '0', '0', '\r', 'k'}, 9600,
         "speed: 967\b \b00\r\n{line}: 9600 Baud\r\n"},
        {"Esc", {CTRL_T, 'B', '1', '2', ESC, 'k'}, 115200, "speed: 12\r\nspeed unchanged\r\n"},
        {"Enter alone", {CTRL_T, 'B', 'x', '\r', 'k'}, 115200, "speed: \r\nspeed unchanged\r\n"},
        {"a speed no line takes", {CTRL_T, 'B', '1', '0', '\r', 'k'}, 115200, "speed: 10\r\n10 Baud not supported\r\n"},
    };
    for (const auto& c : cases) {
        Session run = started({}, true);
        const size_t from = run.console_output.size();
        console_type(run, c.keys);
        EXPECT_EQ(hex(line_read(run, 1)), hex({'k'})) << c.what << ": only the key after it goes";
        std::string shown = c.shown;
        const size_t at = shown.find("{line}");
        if (at != std::string::npos) shown.replace(at, 6, run.line.path);
        EXPECT_TRUE(console_wait_for(run, shown)) << c.what << ": " << run.console_output.substr(from);
        EXPECT_EQ(line_speed::read(run.line.slave).baud, c.speed) << c.what;
        EXPECT_EQ(hex(line_drain(run, 100)), "") << c.what;
        quit_and_close(run);
    }
}

// "Since the start" is the program's start, not the first byte moved.
TEST(StatisticsCommand, CountsFromTheStart) {
    Session run = start({"-c", "{line}", "--no-erase"});
    EXPECT_TRUE(console_wait_raw(run));
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    line_write(run, bytes("x"));
    EXPECT_TRUE(console_wait_for(run, "x"));
    console_type(run, {CTRL_T, 's'});
    EXPECT_TRUE(console_wait_for(run, "since the start (0:00:01): 1 bytes from the line, 0 to it"))
        << run.console_output;
    quit_and_close(run);
}

// A watched run's verdict is a message: standard error, never standard
// output, where the board's text goes.
TEST(Verdicts, OnStandardErrorAndNotOnStandardOutput) {
    const struct {
        const char* what;
        std::vector<std::string> args;
        std::string board_says;
        int status;
        std::string verdict;
    } cases[] = {
        {"--fail", {"--fail", "FAIL"}, "boot\r\nFAIL here\r\n", 1, "failed: FAIL here"},
        {"--timeout", {"--timeout", "0.5"}, "", 124, "timed out after 0.5 s"},
        {"--timeout with an --expect awaited", {"--timeout", "0.5", "--expect", "never"}, "boot\r\n", 124,
         "timed out after 0.5 s (waiting for never)"},
    };
    for (const auto& c : cases) {
        Options options;
        options.stdout_pipe = true;
        options.stdin_null = true;
        std::vector<std::string> args = {"-c", "{line}", "--no-erase"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Session run = start(args, options);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        line_write(run, bytes(c.board_says));
        EXPECT_EQ(exit_code(wait_exit(run)), c.status) << c.what;
        std::string out;
        char buffer[4096];
        for (ssize_t n; (n = read(run.stdout_pipe, buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(n));
        EXPECT_EQ(out.find(c.verdict), std::string::npos) << c.what << ": " << out;
        EXPECT_NE(out.find(c.board_says.substr(0, 4)), std::string::npos) << c.what << ": the board's text: " << out;
        console_wait_for(run, c.verdict, 500);
        EXPECT_NE(run.console_output.find(c.verdict), std::string::npos) << c.what << ": " << run.console_output;
        close(run.stdout_pipe);
        close_all(run);
    }
}
