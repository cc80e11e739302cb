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
#include <cstring>
#include <ctime>
#include <functional>
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

long long ms_between(steady::time_point from, steady::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

// How far, in ms, a stamp's time lies from when the test sent the line
// (for the elapsed formats: from the time the test expects).
long long stamp_error(const std::string& option, const std::string& stamp, const Sent& sent, long long expected_ms) {
    int y, mo, d, h, mi, s, ms;
    if (option == "--timestamp=iso8601") {
        if (std::sscanf(stamp.c_str(), "[%d-%d-%dT%d:%d:%d.%d] ", &y, &mo, &d, &h, &mi, &s, &ms) != 7) return 1 << 30;
        std::tm tm{};
        tm.tm_year = y - 1900;
        tm.tm_mon = mo - 1;
        tm.tm_mday = d;
        tm.tm_hour = h;
        tm.tm_min = mi;
        tm.tm_sec = s;
        tm.tm_isdst = -1;
        const long long shown = std::mktime(&tm) * 1000LL + ms;
        const long long sent_ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(sent.wall_at.time_since_epoch()).count();
        return std::llabs(shown - sent_ms);
    }
    if (std::sscanf(stamp.c_str(), "[%d:%d:%d.%d] ", &h, &mi, &s, &ms) != 4) return 1 << 30;
    const long long shown = ((h * 60LL + mi) * 60 + s) * 1000 + ms;
    if (option != "-t") return std::llabs(shown - expected_ms);
    // Time of day: compared around the clock, midnight included.
    const std::time_t sent_second = wall::to_time_t(sent.wall_at);
    const std::tm local = *std::localtime(&sent_second);
    const long long sent_ms =
        ((local.tm_hour * 60LL + local.tm_min) * 60 + local.tm_sec) * 1000 +
        std::chrono::duration_cast<std::chrono::milliseconds>(sent.wall_at.time_since_epoch()).count() % 1000;
    const long long day = 24LL * 3600 * 1000;
    const long long error = ((shown - sent_ms) % day + day) % day;
    return std::min(error, day - error);
}

}  // namespace

TEST(Display, TextMapsAndHexViewOnTheConsole) {
    struct Case {
        std::vector<std::string> options;
        std::string from_target, shown;
    } cases[] = {
        {{}, "one\ntwo\n", "one\ntwo\n"},
        {{"--map", "INLCRNL"}, "one\ntwo\n", "one\r\ntwo\r\n"},
        {{"--map=IGNCR"}, "a\r\nb\r\n", "a\nb\n"},
        {{"--map", "ICRNL"}, "a\rb\r", "a\nb\n"},
        {{"--hex"}, "AB\r\n", "41 42 0D 0A "},
        // Escaped bytes as their data, a form feed too, 16 to a line.
        {{"--hex"}, "\x10\x02\x0c" "0123456789abcd\x10\x10",
         "02 0C 30 31 32 33 34 35 36 37 38 39 61 62 63 64 \r\n10 "},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"-c", "{line}"});
        Terminal t = open_terminal(args);
        line_write(t.s, bytes(c.from_target));
        EXPECT_TRUE(console_wait_for(t.s, c.shown));
        console_drain(t.s, 50);
        EXPECT_EQ(hex(bytes(since_banner(t))), hex(bytes(c.shown))) << c.options.size();
        EXPECT_TRUE(line_drain(t.s, 20).empty());
        console_type(t.s, {0x11});
        EXPECT_EQ(exit_code(wait_exit(t.s)), 0);
        close_terminal(t);
    }
}

TEST(Display, KeyMapsAndLocalEcho) {
    struct Case {
        std::vector<std::string> options;
        std::string typed, sent, echoed;
    } cases[] = {
        {{}, "ls\r", "ls\r", ""},
        {{"--map", "OCRNL"}, "ls\r", "ls\n", ""},
        {{"--map", "ONLCRNL"}, "a\n", "a\r\n", ""},
        {{"--local-echo"}, "ls\r", "ls\r", "ls\r"},
        {{"--local-echo", "--map", "OCRNL,ONLCRNL"}, "x\r", "x\r\n", "x\r\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"-c", "{line}"});
        Terminal t = open_terminal(args);
        console_type(t.s, bytes(c.typed));
        EXPECT_EQ(hex(line_read(t.s, c.sent.size())), hex(bytes(c.sent))) << c.typed;
        EXPECT_TRUE(line_drain(t.s, 50).empty());
        console_drain(t.s, 50);
        EXPECT_EQ(hex(bytes(since_banner(t))), hex(bytes(c.echoed)));
        console_type(t.s, {0x11});
        EXPECT_EQ(exit_code(wait_exit(t.s)), 0);
        close_terminal(t);
    }
}

// Every line starts with a stamp of when its first byte came: also a line
// after a file request, and one split across two reads. The sessions of
// the four formats run side by side.
TEST(Display, EveryLineIsStampedWhenItBegins) {
    const std::string options[] = {"-t", "--timestamp=iso8601", "--timestamp=24hour-start",
                                   "--timestamp=24hour-delta"};
    constexpr int N = 4;
    constexpr int LONGER_THAN_THE_TOLERANCE_MS = 1300;
    const steady::time_point started = steady::now();
    Terminal t[N];
    for (int i = 0; i < N; ++i) t[i] = open_terminal({options[i], "-c", "{line}"});
    const auto each = [&](const std::function<void(Terminal&)>& step) {
        for (Terminal& x : t) step(x);
    };
    Sent sent[3];
    sent[0] = now();
    each([](Terminal& x) { line_write(x.s, bytes("one\n")); });
    each([](Terminal& x) { EXPECT_TRUE(console_wait_for(x.s, "one\n")); });
    pause_ms(LONGER_THAN_THE_TOLERANCE_MS);  // a stamp taken when "one" ended would be this early
    each([](Terminal& x) {
        line_write(x.s, {0x02});
        EXPECT_EQ(hex(line_read(x.s, 1)), "03 ");
        line_write(x.s, {0x09});  // find next, with no search: -1
        EXPECT_EQ(hex(line_read(x.s, 2)), "FF FF ");
    });
    sent[1] = now();
    each([](Terminal& x) { line_write(x.s, bytes("after\n")); });
    each([](Terminal& x) { EXPECT_TRUE(console_wait_for(x.s, "after\n")); });
    sent[2] = now();
    each([](Terminal& x) { line_write(x.s, bytes("par")); });
    each([](Terminal& x) { EXPECT_TRUE(console_wait_for(x.s, "par")); });
    pause_ms(LONGER_THAN_THE_TOLERANCE_MS);  // a stamp taken at the line's end would be this late
    each([](Terminal& x) { line_write(x.s, bytes("t\n")); });
    each([](Terminal& x) { EXPECT_TRUE(console_wait_for(x.s, "part\n")); });

    const char* const words[] = {"one", "after", "part"};
    for (int i = 0; i < N; ++i) {
        console_drain(t[i].s, 20);
        const std::string shown = since_banner(t[i]);
        const std::string stamp = options[i] == "--timestamp=iso8601"
                                      ? "\\[[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}\\] "
                                      : STAMP;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(shown, m, std::regex("(" + stamp + ")one\n(" + stamp + ")after\n(" + stamp +
                                                          ")part\n")))
            << options[i] << ": " << shown;
        steady::time_point before = started;
        for (int line = 0; line < 3; ++line) {
            const long long expected = options[i] == "--timestamp=24hour-delta" ? ms_between(before, sent[line].at)
                                                                                : ms_between(started, sent[line].at);
            EXPECT_LT(stamp_error(options[i], m[line + 1].str(), sent[line], expected), 1000)
                << options[i] << " " << words[line] << ": " << m[line + 1].str() << " expected " << expected;
            before = sent[line].at;
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
    for (const char* tail : {"\r\n", "\r", "\n", "\x0c"}) content.insert(content.end(), tail, tail + std::strlen(tail));
    for (const auto& options : settings) {
        Served s;
        serve(s, "display-served", false, options);
        line_write(s.run, bytes("before\n"));
        const host_file out = host_fopen("out.bin", "wb");
        ASSERT_NE(out, 0u);
        EXPECT_EQ(host_fwrite(content.data(), static_cast<long>(content.size()), out), long(content.size()));
        EXPECT_EQ(host_fclose(out), 0);
        line_write(s.run, bytes("middle\n"));
        const host_file in = host_fopen("out.bin", "rb");
        ASSERT_NE(in, 0u);
        Bytes back(content.size() + 10);
        EXPECT_EQ(host_fread(back.data(), static_cast<long>(back.size()), in), long(content.size()));
        back.resize(content.size());
        EXPECT_EQ(hex(back), hex(content)) << options[1];
        EXPECT_EQ(host_fclose(in), 0);
        EXPECT_EQ(hex(file_bytes(s.dir + "/out.bin")), hex(content)) << options[1];
        line_write(s.run, bytes("after\n"));
        const std::string last = options[1] == "--hex" ? "72 0A " : "after";
        EXPECT_TRUE(console_wait_for(s.run, last));
        const std::string shown = console_since_banner(s);
        EXPECT_EQ(shown.find("out.bin"), std::string::npos) << shown;
        if (options[1] != "--hex") {
            EXPECT_TRUE(std::regex_search(shown, std::regex(STAMP + "before\r?\n" + STAMP + "middle\r?\n" + STAMP + "after")))
                << shown;
        }
        finish(s);
    }
}

// Every way out leaves the console at the start of a line: CR LF on the
// raw console, LF into a pipe; a lost line's message gets its own line.
TEST(Display, CleanEndOfLineOnEveryWayOut) {
    struct Case {
        const char* name;
        bool pipe;
        bool lose_line;
    } cases[] = {{"Ctrl-Q on a terminal", false, false}, {"Ctrl-Q into a pipe", true, false},
                 {"line lost", false, true}};
    for (const Case& c : cases) {
        Options options;
        options.stdout_pipe = c.pipe;
        Session s = start({"-c", "{line}"}, options);
        ASSERT_EQ(hex(line_read(s, 50)), hex(reset_sequence()));
        ASSERT_TRUE(console_wait_raw(s));
        line_write(s, bytes("no newline"));
        pause_ms(100);
        std::string tail = "no newline";
        if (c.lose_line) {
            close(s.line.master);
            s.line.master = -1;
            EXPECT_EQ(exit_code(wait_exit(s)), 255) << c.name;
            tail += "\r\nread: " + s.line.path + ": line closed\r\n";
        } else {
            console_type(s, {0x11});
            EXPECT_EQ(exit_code(wait_exit(s)), 0) << c.name;
            tail += c.pipe ? "\n" : "\r\n";
        }
        std::string shown = s.console_output;
        if (c.pipe) {
            shown = pty_io::read_all(s.stdout_pipe, 1000);
            close(s.stdout_pipe);
        }
        ASSERT_GE(shown.size(), tail.size()) << c.name;
        EXPECT_EQ(hex(bytes(shown.substr(shown.size() - tail.size()))), hex(bytes(tail))) << c.name << ": " << shown;
        close_pty(s.line);
        close_pty(s.console);
    }
}

// -l: a text file: the program's lines end in LF, form feeds are dropped,
// lines carry the console's stamps, and the session's end is marked however
// it ends.
TEST(Display, LogIsCleanTextWithItsEnd) {
    for (int way_out : {0, SIGTERM, SIGHUP}) {
        const std::string dir = scratch_dir("display-log");
        const std::string log = dir + "/board.log";
        Options options;
        options.workdir = dir;
        Terminal t = open_terminal({"-t", "-l", log, "-c", "{line}"}, options);
        line_write(t.s, bytes("a\x0c" "b\r\ntail"));
        ASSERT_TRUE(console_wait_for(t.s, "tail"));
        if (way_out == 0) {
            console_type(t.s, {0x11});
            EXPECT_EQ(exit_code(wait_exit(t.s)), 0);
        } else {
            kill(t.s.pid, way_out);
            const int status = wait_exit(t.s);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == way_out) << status;
        }
        const std::string logged = file_text(log);
        EXPECT_TRUE(std::regex_match(logged, std::regex("--- tolvane " + DATE_TIME + " on " + t.s.line.path +
                                                        "\nRS232 Tolvane [^\r]*\n\nExit with Ctrl-Q\n\n" + STAMP +
                                                        "ab\r\n" + STAMP + "tail\n--- tolvane ended " + DATE_TIME +
                                                        "\n")))
            << "way out " << way_out << ": " << logged;
        close_terminal(t);
    }
}

// Keys piped in are sent (through the maps), without a word about the
// terminal settings that a pipe does not have.
TEST(Display, PipedKeysAreSentQuietly) {
    Options options;
    options.stdin_keys = "hi\r";
    Session s = start({"--map", "OCRNL", "-c", "{line}"}, options);
    EXPECT_EQ(hex(line_read(s, 50)), hex(reset_sequence()));
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

// An unknown map flag or stamp format is a usage error: nothing is opened.
TEST(Display, UnknownFlagOrFormatIsAUsageError) {
    const std::vector<std::string> cases[] = {{"--map", "INLCR"}, {"--map", "ICRNL,"}, {"--timestamp=12hour"}};
    for (const auto& bad : cases) {
        std::vector<std::string> args = bad;
        args.insert(args.end(), {"-c", "{line}"});
        Session s = start(args);
        EXPECT_EQ(exit_code(wait_exit(s)), 2) << bad[0];
        EXPECT_NE(s.console_output.find("unknown "), std::string::npos) << s.console_output;
        EXPECT_NE(s.console_output.find(" -[opt] { commands to send }"), std::string::npos) << s.console_output;
        EXPECT_TRUE(line_drain(s, 50).empty()) << "nothing is sent";
        close_pty(s.line);
        close_pty(s.console);
    }
}
