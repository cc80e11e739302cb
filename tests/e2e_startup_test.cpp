// Start-up of the real program: options, reset, command words, banner,
// the line's settings, exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <regex>

#include "tests/harness.h"

using namespace e2e;

namespace {

std::string unix_newlines(std::string s) {
    for (size_t at; (at = s.find("\r\n")) != std::string::npos;) s.erase(at, 1);
    return s;
}

// The usage keeps its first lines and its example as they always were;
// the options between them are checked by UsageNamesEveryOption.
testing::AssertionResult is_usage(const std::string& text) {
    const std::string p = tolvane_path();
    const std::string head = p + " -[opt] { commands to send }\n"
                                 "opt:      c <com> communications device\n"
                                 "          b <nnn> Baudrate\n"
                                 "          q       quit, leave program.\n";
    const std::string tail = "\n\n\texample: " + p + " -c /dev/ttyS1 -b 115200\n";
    if (text.rfind(head, 0) == 0 && text.size() >= head.size() + tail.size() &&
        text.compare(text.size() - tail.size(), tail.size(), tail) == 0)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "no usage: " << text;
}

// Runs to the end and returns what reached the line.
Bytes quick_run(const std::vector<std::string>& args, Session& run, int* code) {
    run = start(args);
    *code = exit_code(wait_exit(run));
    const Bytes sent = line_drain(run, 100);
    close_pty(run.line);
    close_pty(run.console);
    return sent;
}

}  // namespace

TEST(Startup, QuitSendsResetAndCommandWords) {
    struct Case {
        std::vector<std::string> args;
        std::string words;
    } cases[] = {
        {{"-q", "-c", "{line}", "reset", "board"}, "reset board \r"},
        {{"-q", "-c", "{line}"}, ""},  // no words: no CR either
        {{"-q", "-c", "{line}", "--", "-x"}, "-x \r"},
        {{"-q", "-c", "{line}", "-", "a"}, "- a \r"},
        {{"-q", "-c", "{line}", "-b", "9600", "ls", "-l"}, "ls -l \r"},
        {{"-Qr", "-C", "{line}", "-B", "300", "x"}, "x \r"},
        // The letters' long names.
        {{"--quit", "--trace", "--device", "{line}", "--baudrate=9600", "--read-only", "x"}, "x \r"},
        // Control bytes in a word travel escaped.
        {{"-q", "-c", "{line}", "a\x02" "b"}, "a\x10\x02" "b \r"},
        // --send texts follow the words, escaped the same way.
        {{"-q", "--send", "go\\x02\\n", "--send=!", "-c", "{line}", "run"}, "run \rgo\x10\x02\n!"},
    };
    for (const auto& c : cases) {
        Session run;
        int code;
        const Bytes sent = quick_run(c.args, run, &code);
        EXPECT_EQ(code, 0) << c.words;
        EXPECT_EQ(hex(sent), hex(with_reset(c.words))) << c.words;
        EXPECT_EQ(run.console_output, "") << "no banner with -q: " << c.words;
    }
}

TEST(Startup, ScannerErrorsPrintMessageAndUsageAndSendNothing) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"-c", "{line}", "-qc", "COM2"}, "option must not be clustered -- c"},
        {{"-c", "{line}", "-b9600"}, "option must be followed by white space -- b"},
        {{"-c", "{line}", "-b"}, "option requires an argument -- b"},
        {{"-c", "{line}", "-x"}, "illegal option -- x"},
        {{"-c", "{line}", "-:"}, "illegal option -- :"},
        // An unset variable in -c "$PORT" must not open the default line.
        {{"-q", "-c", "", "reset"}, "option requires an argument -- c"},
        {{"-q", "-C", " \t ", "reset"}, "option requires an argument -- C"},
        // A speed that is no whole number must not run at some other one.
        {{"-q", "-c", "{line}", "-b", "fast"}, "option needs a whole number of Baud -- b"},
        {{"-q", "-c", "{line}", "-b", "115k"}, "option needs a whole number of Baud -- b"},
        {{"-q", "-c", "{line}", "-B", ""}, "option needs a whole number of Baud -- B"},
        {{"-q", "-c", "{line}", "--bogus"}, "illegal option -- --bogus"},
        // A name near an option's says which it surely meant.
        {{"-q", "-c", "{line}", "--baud", "9600"}, "illegal option -- --baud (did you mean --baudrate?)"},
        {{"-q", "-c", "{line}", "--no-erse"}, "illegal option -- --no-erse (did you mean --no-erase?)"},
        {{"-q", "-c", "{line}", "--output-dealy=5"},
         "illegal option -- --output-dealy (did you mean --output-delay?)"},
        {{"-q", "-c", "{line}", "--output-delay", "5ms"},
         "option needs a whole number of ms, up to 10000 -- --output-delay"},
        {{"-q", "-c", "{line}", "--output-line-delay=10001"},
         "option needs a whole number of ms, up to 10000 -- --output-line-delay"},
        {{"-q", "-c", "{line}", "--version=2"}, "option takes no argument -- --version"},
        {{"-q", "-c", "{line}", "--list=all"}, "option takes no argument -- --list"},
        {{"-q", "-c", "{line}", "--quit=yes"}, "option takes no argument -- --quit"},
        {{"-q", "--device", "{line}", "--baudrate", "fast"}, "option needs a whole number of Baud -- --baudrate"},
        {{"-q", "--device", "usb:"}, "option needs usb:SERIAL or usb:VID:PID -- --device"},
        {{"-q", "-c", "{line}", "--config"}, "option requires an argument -- --config"},
        {{"-q", "-c", "{line}", "--dtr", "1"}, "option needs on or off -- --dtr"},
        {{"-q", "-c", "{line}", "--rts="}, "option needs on or off -- --rts"},
        {{"-q", "-c", "{line}", "--keys", "ansi"}, "option needs vt or getch -- --keys"},
        {{"-q", "-c", "{line}", "--rts"}, "option requires an argument -- --rts"},
        {{"-q", "-c", "{line}", "--pulse", "cts"}, "option needs dtr or rts[:MS], MS up to 60000 -- --pulse"},
        {{"-q", "-c", "{line}", "--pulse", "rts:"}, "option needs dtr or rts[:MS], MS up to 60000 -- --pulse"},
        {{"-q", "-c", "{line}", "--pulse", "dtr:0"}, "option needs dtr or rts[:MS], MS up to 60000 -- --pulse"},
        {{"-q", "-c", "{line}", "--pulse", "dtr:60001"}, "option needs dtr or rts[:MS], MS up to 60000 -- --pulse"},
        {{"-q", "-c", "{line}", "--pulse", "rts:5s"}, "option needs dtr or rts[:MS], MS up to 60000 -- --pulse"},
        {{"-q", "-c", "{line}", "--map", "INLCR"}, "option needs INLCRNL, ICRNL, IGNCR, OCRNL or ONLCRNL -- --map"},
        {{"-q", "-c", "{line}", "--map", "ICRNL,"}, "option needs INLCRNL, ICRNL, IGNCR, OCRNL or ONLCRNL -- --map"},
        {{"-q", "-c", "{line}", "--timestamp=12hour"},
         "option needs 24hour, 24hour-start, 24hour-delta or iso8601 -- --timestamp"},
        // A run watched for its end must not end some other way.
        {{"-c", "{line}", "--expect", "(PASS"}, "bad pattern (unmatched () -- --expect"},
        {{"-c", "{line}", "--fail=[z-a]"}, "bad pattern (invalid range end) -- --fail"},
        {{"-c", "{line}", "--expect", "(a*)\\1b"}, "bad pattern (back-references are not supported) -- --expect"},
        {{"-c", "{line}", "--send", "run\\q"}, "option has an unknown escape -- --send"},
        {{"-c", "{line}", "--timeout", "1m"}, "option needs a number of seconds -- --timeout"},
        {{"-c", "{line}", "--timeout", "-1"}, "option needs a number of seconds -- --timeout"},
        {{"-c", "{line}", "--timeout", "."}, "option needs a number of seconds -- --timeout"},
        {{"-q", "-c", "{line}", "--fail", "x", "--expect", "y"}, "option cannot go with -q -- --fail"},
        {{"-q", "-c", "{line}", "--timeout", "5"}, "option cannot go with -q -- --timeout"},
    };
    for (const auto& c : cases) {
        Session run;
        int code;
        const Bytes sent = quick_run(c.args, run, &code);
        EXPECT_EQ(code, 2) << c.message << ": a usage error is no success";
        EXPECT_TRUE(sent.empty()) << c.message << ": " << hex(sent);
        const std::string said = unix_newlines(run.console_output);
        const std::string first = tolvane_path() + ": " + c.message + "\n";
        EXPECT_EQ(said.substr(0, first.size()), first);
        EXPECT_TRUE(is_usage(said.substr(std::min(first.size(), said.size()))));
    }
}

// --help and -h print every option in the usual layout; --version the
// version and the build date. Nothing is opened or sent.
TEST(Startup, HelpNamesEveryOptionAndVersionSaysWhichBuild) {
    const std::vector<std::string> every_option = {
        "  -c, --device DEV ", "  -b, --baudrate BAUD ", "  -q, --quit ", "  -r, --trace ", "  -d, --root DIR ",
        "  -p, --read-only ", "  -w, --wait ", "  -l, --log FILE ", "  -t, --timestamp[=FORMAT] ", "  --map FLAGS ",
        "  --hex ", "  --local-echo ", "  --backspace bs|del ", "  --no-erase ", "  --dtr on|off ", "  --rts on|off ",
        "  --pulse dtr|rts[:MS] ", "  --expect RE ", "  --fail RE ", "  --send TEXT ", "  --timeout SECONDS ",
        "  --config FILE ", "  --list ", "  -h, --help ", "  --version "};
    for (const std::string help : {"--help", "-h", "-H"}) {
        Session run;
        int code;
        const Bytes sent = quick_run({"-c", "{line}", help}, run, &code);
        EXPECT_EQ(code, 0) << help;
        EXPECT_TRUE(sent.empty()) << help;
        const std::string said = unix_newlines(run.console_output);
        EXPECT_EQ(said.rfind("Usage: " + tolvane_path() + " [options] [command words...]\n", 0), 0u) << said;
        for (const std::string& option : every_option)
            EXPECT_NE(said.find(option), std::string::npos) << option << " not in " << said;
    }
    Session run;
    int code;
    EXPECT_TRUE(quick_run({"-c", "{line}", "--version"}, run, &code).empty());
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(std::regex_match(unix_newlines(run.console_output),
                                 std::regex("tolvane [0-9]+\\.[0-9]+ \\([A-Z][a-z][a-z] [ 0-9][0-9] [0-9]{4}\\)\n")))
        << run.console_output;
}

TEST(Startup, BadLinesExitWith255) {
    struct Case {
        std::vector<std::string> args;
        std::string output;
    } cases[] = {
        {{"-q", "-c", "/nonexistent/tty", "-b", "299"}, "299 Baud not supported\n"},
        {{"-q", "-c", "/nonexistent/tty", "-b", "110"}, "110 Baud not supported\n"},
        {{"-q", "-c", "/nonexistent/tty"}, "open: /nonexistent/tty: No such file or directory\n"},
        {{"-q", "-c", "/dev/null"}, "ioctl: /dev/null: Inappropriate ioctl for device\n"},
        // Long names are taken whole; only the first word counts.
        {{"-q", "-c", "/" + std::string(199, 'd') + " x"},
         "open: /" + std::string(199, 'd') + ": No such file or directory\n"},
    };
    for (const auto& c : cases) {
        Session run = start(c.args);
        EXPECT_EQ(exit_code(wait_exit(run)), 255) << c.output;
        EXPECT_EQ(unix_newlines(run.console_output), c.output);
        close_pty(run.line);
        close_pty(run.console);
    }
}

TEST(Startup, BannerThenTerminalUntilCtrlQ) {
    Session run = start({"-c", "{line}", "-b", "57600"});
    ASSERT_TRUE(console_wait_for(run, "Exit with Ctrl-Q\r\n\r\n"));
    const std::regex banner("^RS232 Tolvane [A-Z][a-z][a-z] [ 123][0-9] [0-9]{4} on " + run.line.path +
                            " with 57600 Baud\n\nExit with Ctrl-Q\n\n$");
    EXPECT_TRUE(std::regex_match(unix_newlines(run.console_output), banner)) << run.console_output;
    EXPECT_EQ(hex(line_read(run, 50)), hex(reset_sequence()));
    ASSERT_TRUE(console_wait_raw(run));
    console_type(run, {0x11});
    EXPECT_EQ(exit_code(wait_exit(run)), 0);
    EXPECT_TRUE(line_drain(run, 100).empty()) << "Ctrl-Q sends nothing";
    close_pty(run.line);
    close_pty(run.console);
}

TEST(Startup, LineIsRaw8N1WhileOpenAndRestoredAfter) {
    Options options;
    // Left over from an earlier program: hardware flow control, mark parity.
    options.prepare_line = [](int line) {
        struct termios t = settings(line);
        t.c_cflag |= CRTSCTS | CMSPAR | PARENB | CSTOPB;
        t.c_iflag |= IXON | IXOFF | ICRNL;
        t.c_lflag |= ICANON | ECHO;
        tcsetattr(line, TCSANOW, &t);
    };
    Session run = start({"-c", "{line}", "-b", "9600"}, options);
    const struct termios old = run.line_at_start;
    ASSERT_TRUE(old.c_cflag & CRTSCTS) << "this pty cannot hold CRTSCTS";

    ASSERT_TRUE(console_wait_for(run, "Exit with Ctrl-Q"));
    const struct termios during = settings(run.line.slave);
    EXPECT_EQ(during.c_iflag, tcflag_t(IGNBRK | IGNPAR));
    EXPECT_EQ(during.c_oflag, 0u);
    EXPECT_EQ(during.c_cflag & ~CBAUD, tcflag_t(CS8 | CREAD | CLOCAL));
    EXPECT_EQ(cfgetospeed(&during), speed_t(B9600));
    EXPECT_EQ(during.c_lflag, tcflag_t(FLUSHO));
    EXPECT_EQ(during.c_cc[VMIN], 16);
    EXPECT_EQ(during.c_cc[VTIME], 2);

    ASSERT_TRUE(console_wait_raw(run));
    console_type(run, {0x11});
    EXPECT_EQ(exit_code(wait_exit(run)), 0);
    EXPECT_TRUE(same_settings(settings(run.line.slave), old));
    EXPECT_TRUE(settings(run.line.slave).c_cflag & CRTSCTS);
    close_pty(run.line);
    close_pty(run.console);
}

// One program per line: a second tolvane, or another program holding the
// line's lock (as picocom and tio take it), is refused before anything is
// sent and before the line's settings are touched.
TEST(Startup, ALineInUseIsRefused) {
    Options no_line;
    no_line.line_pty = false;
    Session first = start({"-c", "{line}"});
    ASSERT_TRUE(console_wait_for(first, "Exit with Ctrl-Q"));
    ASSERT_TRUE(console_wait_raw(first));
    EXPECT_EQ(hex(line_read(first, 50)), hex(reset_sequence()));
    const struct termios first_settings = settings(first.line.slave);

    Session second = start({"-q", "-c", first.line.path, "reset"}, no_line);
    EXPECT_EQ(exit_code(wait_exit(second)), 255);
    EXPECT_EQ(unix_newlines(second.console_output), "open: " + first.line.path + ": line in use by another program\n");
    close_pty(second.console);
    EXPECT_TRUE(line_drain(first, 100).empty()) << "the second one sent nothing";
    EXPECT_TRUE(same_settings(settings(first.line.slave), first_settings));

    // The first goes on undisturbed.
    console_type(first, {'k'});
    EXPECT_EQ(hex(line_read(first, 1)), hex({'k'}));
    console_type(first, {0x11});
    EXPECT_EQ(exit_code(wait_exit(first)), 0);
    EXPECT_TRUE(same_settings(settings(first.line.slave), first.line_at_start));
    close_pty(first.line);
    close_pty(first.console);

    // Another program's lock.
    Pty line = open_pty();
    const int other = open(line.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    const struct termios before = settings(line.slave);
    Session third = start({"-q", "-c", line.path}, no_line);
    EXPECT_EQ(exit_code(wait_exit(third)), 255);
    EXPECT_EQ(unix_newlines(third.console_output), "open: " + line.path + ": line in use by another program\n");
    EXPECT_TRUE(pty_io::read_until_quiet(line.master, 100).empty());
    EXPECT_TRUE(same_settings(settings(line.slave), before));
    close(other);
    close_pty(third.console);
    close_pty(line);
}

// /dev/serial/by-id/... names are long: a 200-character path is taken whole.
TEST(Startup, LongDevicePathsWorkAndShowWhole) {
    const std::string dir = scratch_dir("long_path");
    Pty line = open_pty();
    std::string link = dir + "/usb-Vendor_Board_";
    link += std::string(200 - link.size(), 'x');
    ASSERT_EQ(symlink(line.path.c_str(), link.c_str()), 0);

    Options no_line;
    no_line.line_pty = false;
    Session run = start({"-c", link, "hello"}, no_line);
    EXPECT_TRUE(console_wait_for(run, " on " + link + " with 115200 Baud\r\n")) << run.console_output;
    ASSERT_TRUE(console_wait_raw(run));
    EXPECT_EQ(hex(pty_io::read_exactly(line.master, 57, 3000)), hex(with_reset("hello \r")));
    console_type(run, {0x11});
    EXPECT_EQ(exit_code(wait_exit(run)), 0);
    close_pty(run.console);
    close_pty(line);
}

// What a user used to tio or picocom types: nothing reaches the board
// that was not asked for, errors go to standard error, -w honours the
// time-out.
TEST(Startup, NothingSentUnaskedAndErrorsOnStandardError) {
    const struct {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string sent;        // on the line, the reset included
        std::string on_stdout;   // all of standard output, with --quit or after the end
        std::string on_stderr;   // at the start of what the console shows
    } cases[] = {
        {"--no-erase sends nothing at start", {"-q", "--no-erase", "-c", "{line}"}, 0, "", "", ""},
        {"--no-erase with words sends the words", {"-q", "--no-erase", "-c", "{line}", "ls"}, 0, "ls \r", "", ""},
        {"a device among the words, no -c", {"-q", "/dev/null"}, 2, "", "",
         tolvane_path() + ": /dev/null is a line, not a word for the board: use -c /dev/null\n"},
        // A board unplugged: the word is a line all the same, never typed.
        {"a device not there among the words, no -c", {"-q", "/dev/ttyUSB97"}, 2, "", "",
         tolvane_path() + ": /dev/ttyUSB97 is a line, not a word for the board: use -c /dev/ttyUSB97\n"},
        {"--plain sends no reset", {"-q", "--plain", "-c", "{line}"}, 0, "", "", ""},
        {"--plain sends words and texts bare", {"-q", "--plain", "--send", "\\x02\\x03\\x10", "-c", "{line}", "a\x03"},
         0, std::string("a\x03 \r\x02\x03\x10", 7), "", ""},
        {"a URL among the words, no -c", {"-q", "tcp://lab:3001"}, 2, "", "",
         tolvane_path() + ": tcp://lab:3001 is a line, not a word for the board: use -c tcp://lab:3001\n"},
        {"--timestamp takes its format as the next word",
         {"-q", "--no-erase", "-c", "{line}", "--timestamp", "24hour-delta"}, 0, "", "", ""},
        {"an open error", {"-c", "/nonexistent/tty"}, 255, "", "",
         "open: /nonexistent/tty: No such file or directory\n"},
    };
    for (const auto& c : cases) {
        Options options;
        options.stdout_pipe = true;
        options.stdin_null = true;
        Session run = start(c.args, options);
        EXPECT_EQ(exit_code(wait_exit(run)), c.status) << c.what;
        std::string out;
        char buffer[4096];
        for (ssize_t n; (n = read(run.stdout_pipe, buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(n));
        EXPECT_EQ(out, c.on_stdout) << c.what;
        const std::string said = unix_newlines(run.console_output);
        EXPECT_EQ(said.substr(0, c.on_stderr.size()), c.on_stderr) << c.what;
        if (c.status == 0) {
            EXPECT_EQ(hex(line_drain(run, 100)), hex(bytes(c.sent))) << c.what;
        }
        close(run.stdout_pipe);
        close_pty(run.line);
        close_pty(run.console);
    }
}

// -w with a line that is not there: the time-out counts from the start.
TEST(Startup, WaitingForALineEndsAtTheTimeOut) {
    Options options;
    options.stdin_null = true;
    const auto began = std::chrono::steady_clock::now();
    Session run = start({"-w", "-c", "/dev/absent-board", "--expect", "PASS", "--timeout", "1"}, options);
    EXPECT_EQ(exit_code(wait_exit(run, 5000)), 124);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(3));
    EXPECT_NE(run.console_output.find("timed out after 1 s (waiting for PASS)"), std::string::npos)
        << run.console_output;
    close_pty(run.line);
    close_pty(run.console);
}
