// What the console shows of the target's text and of the keys (line-end
// maps, time stamps, the hex view, local echo), and how every way out
// leaves the console and the log.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <thread>

#include "client/hostfs.h"
#include "tests/e2e_served.h"

using namespace e2e;
using pty_io::file_text;

namespace {

using steady = std::chrono::steady_clock;
using wall = std::chrono::system_clock;

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

const std::string STAMP = "\\[[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}\\] ";
const std::string DATE_TIME = "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}";

// A session past its banner with the console raw; mark is where the
// console's output after the banner starts.
struct Terminal {
    Session s;
    size_t mark = 0;
};

Terminal open_terminal(const std::vector<std::string>& args, const Options& options = {}) {
    Terminal t;
    t.s = start(args, options);
    EXPECT_EQ(hex(line_read(t.s, 50)), hex(reset_sequence()));
    EXPECT_TRUE(console_wait_for(t.s, "Exit with Ctrl-Q\r\n\r\n")) << t.s.console_output;
    EXPECT_TRUE(console_wait_raw(t.s));
    t.mark = t.s.console_output.size();
    return t;
}

std::string since_banner(Terminal& t) { return t.s.console_output.substr(t.mark); }

void close_terminal(Terminal& t) {
    close_pty(t.s.line);
    close_pty(t.s.console);
}

struct Sent {
    steady::time_point at;
    wall::time_point wall_at;
};

Sent now() { return {steady::now(), wall::now()}; }

long long ms_of(wall::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

// How far, in ms, a stamp lies from the time expected: the local time the
// line was sent (around the clock for -t), or expected_ms elapsed.
long long stamp_error(const std::string& option, const std::string& stamp, const Sent& sent, long long expected_ms) {
    std::tm tm{};
    int ms = 0;
    if (option == "--timestamp=iso8601") {
        std::sscanf(stamp.c_str(), "[%d-%d-%dT%d:%d:%d.%d] ", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                    &tm.tm_min, &tm.tm_sec, &ms);
        tm.tm_year -= 1900;
        tm.tm_mon -= 1;
        tm.tm_isdst = -1;
        return std::llabs(std::mktime(&tm) * 1000LL + ms - ms_of(sent.wall_at));
    }
    std::sscanf(stamp.c_str(), "[%d:%d:%d.%d] ", &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &ms);
    const long long shown = ((tm.tm_hour * 60LL + tm.tm_min) * 60 + tm.tm_sec) * 1000 + ms;
    if (option != "-t") return std::llabs(shown - expected_ms);
    const std::time_t second = wall::to_time_t(sent.wall_at);
    const std::tm local = *std::localtime(&second);
    const long long day = 24LL * 3600 * 1000;
    const long long sent_ms =
        ((local.tm_hour * 60LL + local.tm_min) * 60 + local.tm_sec) * 1000 + ms_of(sent.wall_at) % 1000;
    const long long error = ((shown - sent_ms) % day + day) % day;
    return std::min(error, day - error);
}

}  // namespace

TEST(Display, MapsHexAndEchoOnTheConsoleAndTheLine) {
    struct Case {
        std::vector<std::string> options;
        std::string from_target, shown, typed, sent;
    } cases[] = {
        {{}, "one\ntwo\n", "one\ntwo\n", "ls\r", "ls\r"},
        {{"--map", "INLCRNL"}, "one\ntwo\n", "one\r\ntwo\r\n", "", ""},
        {{"--map=IGNCR"}, "a\r\nb\r\n", "a\nb\n", "", ""},
        {{"--map", "ICRNL,OCRNL"}, "a\rb\r", "a\nb\n", "ls\r", "ls\n"},
        {{"--map", "ONLCRNL"}, "", "", "a\n", "a\r\n"},
        {{"--hex"}, "AB\r\n", "41 42 0D 0A ", "\r", "\r"},
        // Escaped bytes as their data, a form feed too, 16 to a line.
        {{"--hex"}, "\x10\x02\x0c" "0123456789abcd\x10\x10", "02 0C 30 31 32 33 34 35 36 37 38 39 61 62 63 64 \r\n10 ",
         "", ""},
        {{"--local-echo", "--map", "OCRNL,ONLCRNL"}, "", "x\r\n", "x\r", "x\r\n"},
        // Enter echoed as a new line, not a CR the board's answer overwrites.
        {{"--local-echo"}, "", "x\r\n", "x\r", "x\r"},
        // The Backspace key (DEL from a terminal): BS unless --backspace del.
        {{"--backspace", "bs"}, "", "", "a\x7f", "a\x08"},
        {{"--backspace", "del"}, "", "", "a\x7f", "a\x7f"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"-c", "{line}"});
        Terminal t = open_terminal(args);
        line_write(t.s, bytes(c.from_target));
        console_type(t.s, bytes(c.typed));
        EXPECT_EQ(hex(line_read(t.s, c.sent.size())), hex(bytes(c.sent))) << c.typed;
        EXPECT_TRUE(console_wait_for(t.s, c.shown));
        console_drain(t.s, 50);
        EXPECT_EQ(hex(bytes(since_banner(t))), hex(bytes(c.shown))) << c.options[0];
        EXPECT_TRUE(line_drain(t.s, 20).empty());
        console_type(t.s, {0x11});
        EXPECT_EQ(exit_code(wait_exit(t.s)), 0);
        close_terminal(t);
    }
}

// Every line starts with a stamp of when its first byte came: also a line
// after a file request, and one split across two reads. The sessions of
// the four formats run side by side.
TEST(Display, EveryLineIsStampedWhenItBegins) {
    const std::string formats[] = {"-t", "--timestamp=iso8601", "--timestamp=24hour-start", "--timestamp=24hour-delta"};
    constexpr int PAST_THE_TOLERANCE_MS = 1300;
    const Sent started = now();
    std::vector<Terminal> t;
    for (const std::string& format : formats) t.push_back(open_terminal({format, "-c", "{line}"}));
    const auto send = [&](const std::string& text, const std::string& shown) {
        for (Terminal& x : t) line_write(x.s, bytes(text));
        for (Terminal& x : t) EXPECT_TRUE(console_wait_for(x.s, shown));
    };
    Sent sent[3];
    sent[0] = now();
    send("one\n", "one\n");
    pause_ms(PAST_THE_TOLERANCE_MS);  // a stamp taken when "one" ended would be this early
    for (Terminal& x : t) {
        line_write(x.s, {0x02});
        EXPECT_EQ(hex(line_read(x.s, 1)), "03 ");
        line_write(x.s, {0x09});  // find next, with no search: -1
        EXPECT_EQ(hex(line_read(x.s, 2)), "FF FF ");
    }
    sent[1] = now();
    send("after\n", "after\n");
    sent[2] = now();
    send("par", "par");
    pause_ms(PAST_THE_TOLERANCE_MS);  // a stamp taken when the line ended would be this late
    send("t\n", "part\n");

    for (size_t i = 0; i < t.size(); ++i) {
        console_drain(t[i].s, 20);
        const std::string stamp =
            i == 1 ? "\\[[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}\\] " : STAMP;
        std::smatch m;
        const std::string shown = since_banner(t[i]);
        const std::regex lines("(" + stamp + ")one\n(" + stamp + ")after\n(" + stamp + ")part\n");
        ASSERT_TRUE(std::regex_match(shown, m, lines)) << formats[i] << ": " << shown;
        for (int line = 0; line < 3; ++line) {
            const Sent& from = i == 3 && line > 0 ? sent[line - 1] : started;
            const long long expected =
                std::chrono::duration_cast<std::chrono::milliseconds>(sent[line].at - from.at).count();
            EXPECT_LT(stamp_error(formats[i], m[line + 1].str(), sent[line], expected), 1000)
                << formats[i] << ", line " << line << ": " << m[line + 1].str() << " expected " << expected;
        }
        console_type(t[i].s, {0x11});
        EXPECT_EQ(exit_code(wait_exit(t[i].s)), 0);
        close_terminal(t[i]);
    }
}

// Requests among stamped, mapped or hex text move their bytes exactly, and
// none of them shows.
TEST(Display, RequestsAmongShapedTextAreServedByteExact) {
    const std::vector<std::string> settings[] = {
        {"-t", "--map", "INLCRNL,ICRNL,IGNCR"},
        {"-t", "--hex"},
        {"--timestamp=24hour-delta", "--map", "IGNCR,OCRNL,ONLCRNL", "--local-echo"},
    };
    Bytes content;
    for (int i = 0; i < 256; ++i) content.push_back(static_cast<uint8_t>(i));
    for (uint8_t b : {'\r', '\n', '\r', '\x0c', '\n'}) content.push_back(b);
    const long size = static_cast<long>(content.size());
    for (const auto& options : settings) {
        Served s;
        serve(s, "display-served", false, options);
        line_write(s.run, bytes("before\n"));
        host_file f = host_fopen("out.bin", "wb");
        EXPECT_EQ(host_fwrite(content.data(), size, f), size);
        EXPECT_EQ(host_fclose(f), 0);
        EXPECT_EQ(hex(file_bytes(s.dir + "/out.bin")), hex(content)) << options[1];
        line_write(s.run, bytes("middle\n"));
        Bytes back(content.size() + 1);
        f = host_fopen("out.bin", "rb");
        EXPECT_EQ(host_fread(back.data(), size + 1, f), size);
        EXPECT_EQ(hex(Bytes(back.begin(), back.end() - 1)), hex(content)) << options[1];
        EXPECT_EQ(host_fclose(f), 0);
        line_write(s.run, bytes("after\n"));
        const bool hex_view = options[1] == "--hex";
        EXPECT_TRUE(console_wait_for(s.run, hex_view ? "72 0A " : "after"));
        const std::string shown = console_since_banner(s);
        EXPECT_EQ(shown.find("out.bin"), std::string::npos) << shown;
        const std::string text = STAMP + "before\r?\n" + STAMP + "middle\r?\n" + STAMP + "after";
        EXPECT_TRUE(hex_view || std::regex_search(shown, std::regex(text))) << shown;
        finish(s);
    }
}

// Every way out leaves the console at the start of a line (CR LF on the
// raw console, LF into a pipe; a lost line's message on a line of its
// own), and the log as a text file: the program's lines in LF, form feeds
// dropped, the console's stamps, and the end marked.
TEST(Display, CleanEndOnTheConsoleAndInTheLog) {
    struct Case {
        int way_out;  // a signal, or 0 for Ctrl-Q, -1 for a lost line
        bool pipe;
    } cases[] = {{0, false}, {0, true}, {SIGTERM, false}, {SIGHUP, false}, {-1, false}};
    for (const Case& c : cases) {
        const std::string dir = scratch_dir("display-end");
        Options options;
        options.workdir = dir;
        options.stdout_pipe = c.pipe;
        Session s = start({"-t", "-l", "board.log", "-c", "{line}"}, options);
        ASSERT_EQ(hex(line_read(s, 50)), hex(reset_sequence()));
        ASSERT_TRUE(console_wait_raw(s));
        line_write(s, bytes("a\x0c" "b\r\ntail"));
        pause_ms(200);
        std::string tail = "tail";
        if (c.way_out == -1) {
            close(s.line.master);
            s.line.master = -1;
            EXPECT_EQ(exit_code(wait_exit(s)), 255);
            tail += "\r\nread: " + s.line.path + ": line closed\r\n";
        } else if (c.way_out == 0) {
            console_type(s, {0x11});
            EXPECT_EQ(exit_code(wait_exit(s)), 0);
            tail += c.pipe ? "\n" : "\r\n";
        } else {
            kill(s.pid, c.way_out);
            const int status = wait_exit(s);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.way_out) << status;
            tail += "\r\n";
        }
        const std::string shown = c.pipe ? pty_io::read_all(s.stdout_pipe, 1000) : s.console_output;
        EXPECT_EQ(shown.substr(shown.size() - std::min(shown.size(), tail.size())), tail) << c.way_out;
        const std::string lost = c.way_out == -1 ? "read: " + s.line.path + ": line closed\n" : "";
        EXPECT_TRUE(std::regex_match(file_text(dir + "/board.log"),
                                     std::regex("--- tolvane " + DATE_TIME + " on " + s.line.path +
                                                "\nRS232 Tolvane [^\r]*\n\nExit with Ctrl-Q\n\n" + STAMP + "ab\r\n" +
                                                STAMP + "tail\n" + lost + "--- tolvane ended " + DATE_TIME + "\n")))
            << c.way_out << ": " << file_text(dir + "/board.log");
        if (c.pipe) close(s.stdout_pipe);
        close_pty(s.line);
        close_pty(s.console);
    }
}

// Keys piped in are sent (through the maps), without a word about the
// terminal settings that a pipe does not have.
TEST(Display, PipedKeysAreSentQuietly) {
    Options options;
    options.stdin_pipe = true;
    Session s = start({"--map", "OCRNL", "-c", "{line}"}, options);
    EXPECT_EQ(hex(line_read(s, 50)), hex(reset_sequence()));
    pty_io::write_all(s.stdin_pipe, bytes("hi\r"));
    close(s.stdin_pipe);
    EXPECT_EQ(hex(line_read(s, 3)), hex(bytes("hi\n")));
    ASSERT_TRUE(console_wait_for(s, "Exit with Ctrl-Q\r\n\r\n"));
    console_drain(s, 100);
    EXPECT_EQ(s.console_output.find("ioctl"), std::string::npos) << s.console_output;
    kill(s.pid, SIGTERM);
    const int status = wait_exit(s);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    close_pty(s.line);
    close_pty(s.console);
}
