// The command key over ptys: Ctrl-T and one key, in every state Ctrl-Q
// works in (the terminal running, inside a request, a line that takes
// nothing, -w waiting for the line), the keys around it in their order,
// its messages on the console and never on the line or in the watch.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/harness.h"

using namespace e2e;

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t CTRL_T = 0x14, CTRL_Q = 0x11, CTRL_A = 0x01, STX = 0x02;

// Where the keys are typed.
enum class State {
    running,     // the terminal, the banner shown
    in_request,  // inside a file request that waits for the target
    stuck,       // a line that takes nothing, a paste queued for it
    waiting,     // -w, the device not there
};

struct Case {
    const char* what;
    State state;
    std::vector<std::string> args;  // besides -c
    Bytes keys;
    Bytes target_says;   // after the keys have been acted on
    std::string shown;   // a regex the console shows after the keys; {line} is the line's path
    Bytes sent;          // all that reaches the line after the keys (in_request: after the reply)
    int status;          // -1: still running, then Ctrl-Q ends it with 0
};

const std::string STAMP = R"(\[\d\d:\d\d:\d\d\.\d\d\d\] )";

const Case CASES[] = {
    {"Ctrl-T Ctrl-T sends Ctrl-T", State::running, {}, {'a', CTRL_T, CTRL_T, 'b'}, {}, "^$", {'a', CTRL_T, 'b'}, -1},
    {"Ctrl-T Ctrl-Q sends Ctrl-Q and goes on", State::running, {}, {'a', CTRL_T, CTRL_Q, 'b'}, {}, "^$",
     {'a', CTRL_Q, 'b'}, -1},
    {"Ctrl-T q ends with 0 and sends nothing", State::running, {}, {CTRL_T, 'q', 'z'}, {}, "", {}, 0},
    {"Ctrl-T q: the keys before it go, those after it do not", State::running, {}, {'x', CTRL_T, 'q', 'y'}, {}, "",
     {'x'}, 0},
    {"Ctrl-T t stamps the next lines, and again stops", State::running, {}, {CTRL_T, 't'}, bytes("one\r\ntwo\r\n"),
     "^timestamps on\r\n" + STAMP + "one\r\n" + STAMP + "two\r\n$", {}, -1},
    {"Ctrl-T t with -t stops the stamps", State::running, {"--timestamp=24hour-start"}, {CTRL_T, 't'},
     bytes("one\r\n"), "^timestamps off\r\none\r\n$", {}, -1},
    {"Ctrl-T h shows the next bytes in hex", State::running, {}, {CTRL_T, 'h'}, bytes("AB"),
     "^hex view on\r\n41 42 $", {}, -1},
    {"Ctrl-T e echoes the keys after it", State::running, {}, {'w', CTRL_T, 'e', 'x'}, {}, "^local echo on\r\nx$",
     {'w', 'x'}, -1},
    {"Ctrl-T l clears the screen", State::running, {}, {CTRL_T, 'l'}, {}, "^\x1b\\[H\x1b\\[2J$", {}, -1},
    {"Ctrl-T ? lists the commands", State::running, {}, {CTRL_T, '?'}, {},
     "^Ctrl-T, then:\r\n  \\?       this list\r\n  b       send a break \\(250 ms\\)\r\n(.*\r\n)*"
     "  q       quit \\(as Ctrl-Q\\)\r\n  Ctrl-T  send Ctrl-T\r\n  Ctrl-Q  send Ctrl-Q\r\n$",
     {}, -1},
    {"Ctrl-T and another key: said, nothing sent", State::running, {}, {'a', CTRL_T, 'z', 'b'}, {},
     "^Ctrl-T z: no such command \\(Ctrl-T \\? lists them\\)\r\n$", {'a', 'b'}, -1},
    {"Ctrl-T b: the break, on a pty that takes it", State::running, {}, {CTRL_T, 'b', 'k'}, {},
     "^break sent \\(250 ms\\)\r\n$", {'k'}, -1},
    {"Ctrl-T d: a pty has no modem lines", State::running, {}, {CTRL_T, 'd'}, {}, "^{line}: no modem lines\r\n$", {},
     -1},
    {"Ctrl-T p without --pulse", State::running, {}, {CTRL_T, 'p'}, {}, "^no reset pulse: --pulse names none\r\n$",
     {}, -1},
    {"Ctrl-T L: speed, frame and flow control", State::running, {"-b", "9600", "--stopbits", "2", "--flow", "soft"},
     {CTRL_T, 'L'}, {}, "^{line}: 9600 Baud 8N2, soft flow control \\(XON/XOFF\\); modem lines not known\r\n$", {},
     -1},
    {"Ctrl-T s: what the session moved", State::running, {}, {CTRL_T, 's'}, {},
     "^since the start \\(0:00:0\\d\\): 0 bytes from the line, 50 to it, 0 requests served\r\n$", {}, -1},
    {"Ctrl-T c: the settings in force", State::running, {"-p", "--hex", "--map", "ocrnl,INLCRNL", "--pulse", "rts"},
     {CTRL_T, 'c'}, {},
     "^line: {line}, 115200 Baud 8N1, no flow control\r\nmodem lines: DTR raised at open, RTS raised at open, "
     "reset pulse RTS 100 ms\r\nfiles: the host's, read-only\r\nview: maps INLCRNL,OCRNL, timestamps "
     "off, hex view on, local echo off\r\nlog: none; command key Ctrl-T\r\n$",
     {}, -1},
    {"Ctrl-T c: paced output among the settings", State::running, {"--output-delay", "1", "--output-line-delay", "20"},
     {CTRL_T, 'c'}, {}, "files: the host's\r\noutput paced: 1 ms a byte, 20 ms after CR\r\nview: ", {}, -1},
    {"Ctrl-T v: the version", State::running, {}, {CTRL_T, 'v'}, {}, "^tolvane \\d+\\.\\d+ \\(.+\\)\r\n$", {}, -1},
    {"the messages are no target text for --expect", State::running, {"--expect", "no such"}, {CTRL_T, 'z'}, {},
     "^Ctrl-T z: no such command", {}, -1},
    {"--command-key none: Ctrl-T is a key", State::running, {"--command-key", "none"}, {CTRL_T, 't', CTRL_T}, {},
     "^$", {CTRL_T, 't', CTRL_T}, -1},
    {"--command-key a: Ctrl-A is the command key", State::running, {"--command-key", "a"},
     {CTRL_T, CTRL_A, CTRL_A, CTRL_A, 'v'}, {}, "^tolvane ", {CTRL_T, CTRL_A}, -1},
    {"inside a request: the keys after it in order", State::in_request, {}, {'a', CTRL_T, CTRL_Q, 'b', CTRL_T, 'v'},
     {}, "^tolvane ", {'a', CTRL_Q, 'b'}, -1},
    {"inside a request: Ctrl-T q ends at once", State::in_request, {}, {'a', CTRL_T, 'q'}, {}, "", {'a'}, 0},
    {"a line that takes nothing: Ctrl-T q ends at once", State::stuck, {}, {CTRL_T, 'q'}, {}, "", {}, 0},
    {"waiting for the line: Ctrl-T v", State::waiting, {}, {'x', CTRL_T, 'v'}, {}, "^tolvane ", {}, -1},
    {"waiting for the line: Ctrl-T b says there is none", State::waiting, {}, {CTRL_T, 'b'}, {},
     "^no line now: waiting for {line}\r\n$", {}, -1},
    {"waiting for the line: Ctrl-T q ends", State::waiting, {}, {CTRL_T, 'q'}, {}, "", {}, 0},
};

// Reads the console until its text since the keys matches (true) or the
// time runs out.
bool console_wait_match(Session& run, size_t from, const std::regex& shown, int timeout_ms = 3000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!std::regex_search(run.console_output.substr(from), shown)) {
        if (Clock::now() >= deadline) return false;
        console_wait_for(run, "\x01no such text\x01", 50);
    }
    return true;
}

std::string with_line(std::string text, const std::string& path) {
    for (size_t at; (at = text.find("{line}")) != std::string::npos;) text.replace(at, 6, path);
    return text;
}

// Keys typed on the console in one piece; the in_request and stuck states
// are made first.
Session start_in(const Case& c, std::string* line_path) {
    std::vector<std::string> args = {"-c"};
    Options options;
    if (c.state == State::waiting) {
        *line_path = scratch_dir("commands_waiting") + "/usb-board";
        args.insert(args.end(), {*line_path, "-w"});
        options.line_pty = false;
    } else {
        args.push_back("{line}");
    }
    args.insert(args.end(), c.args.begin(), c.args.end());
    Session run = start(args, options);
    if (c.state == State::waiting) {
        EXPECT_TRUE(console_wait_for(run, "(Ctrl-Q ends)\r\n")) << run.console_output;
    } else {
        *line_path = run.line.path;
        EXPECT_EQ(hex(line_read(run, 50)), hex(reset_sequence()));
        EXPECT_TRUE(console_wait_for(run, "Exit with Ctrl-Q\r\n\r\n")) << run.console_output;
    }
    EXPECT_TRUE(console_wait_raw(run));
    if (c.state == State::in_request) {
        line_write(run, {STX});
        EXPECT_EQ(hex(line_read(run, 1)), hex({0x03})) << "ready";
    }
    if (c.state == State::stuck) {
        // More than the line's buffers hold, with nobody reading it.
        const std::string paste(300 * 1024, 'p');
        console_type(run, bytes(paste));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    return run;
}

bool still_running(const Session& run) {
    int status;
    return waitpid(run.pid, &status, WNOHANG) == 0;
}

}  // namespace

TEST(CommandKey, EachCommandInEachState) {
    for (const Case& c : CASES) {
        std::string path;
        Session run = start_in(c, &path);
        const size_t from = run.console_output.size();
        const auto typed = Clock::now();
        console_type(run, c.keys);
        Bytes expected = c.sent;
        if (c.status >= 0) {
            EXPECT_EQ(exit_code(wait_exit(run, 3000)), c.status) << c.what;
            EXPECT_LT(Clock::now() - typed, std::chrono::milliseconds(1500)) << c.what;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));  // the keys are acted on
            if (c.state == State::in_request) {
                EXPECT_EQ(hex(line_drain(run, 100)), "") << c.what << ": keys wait while the request runs";
                line_write(run, {0x09});  // the request: find next, without a search (-1)
                expected.insert(expected.begin(), {0xFF, 0xFF});
            }
            if (!c.target_says.empty()) line_write(run, c.target_says);
            const std::regex shown(with_line(c.shown, path));
            EXPECT_TRUE(console_wait_match(run, from, shown)) << c.what << ": " << run.console_output.substr(from);
            EXPECT_TRUE(still_running(run)) << c.what;
        }
        if (c.state != State::waiting && c.state != State::stuck) {
            EXPECT_EQ(hex(line_drain(run, 200)), hex(expected)) << c.what;
        }
        if (c.status < 0) {
            console_type(run, {CTRL_Q});
            EXPECT_EQ(exit_code(wait_exit(run)), 0) << c.what;
        }
        EXPECT_TRUE(same_settings(settings(run.console.slave), run.console_at_start)) << c.what;
        close_pty(run.line);
        close_pty(run.console);
    }
}
