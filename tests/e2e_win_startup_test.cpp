// tolvane-win under Wine: options, reset, command words, banner, the
// port's settings, failing ports and exit status.
#include <pwd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "tests/win_harness.h"

using namespace win_e2e;

namespace {

// The usage keeps its first lines and the Windows example as they always
// were; the options come between them.
bool is_usage(const std::string& text) {
    const std::string p = windows_path(exe_path());
    const std::string head = p + " -[opt] { commands to send }\n"
                                 "opt:      c <com> communications device\n"
                                 "          b <nnn> Baudrate\n"
                                 "          q       quit, leave program.\n";
    const std::string tail = "\n\n\texample: " + p + " -c com1 -b 115200\n";
    return text.rfind(head, 0) == 0 && text.size() >= head.size() + tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST(WinStartup, QuitSendsResetAndCommandWords) {
    const std::string long_word(1500, 'w');  // more than one buffer's worth
    struct Case {
        std::vector<std::string> args;
        std::string words;
    } cases[] = {
        {{"-q", "-c", "COM41", "reset", "board"}, "reset board \r"},
        {{"-q", "-c", "com41"}, ""},
        {{"-Qr", "-C", "41", "-B", "9600", "--", "-x"}, "-x \r"},
        {{"-q", "-c", "COM41", "a\x02" "b"}, "a\x10\x02" "b \r"},
        {{"-q", "-c", "COM41", long_word}, long_word + " \r"},
        {{"-q", "-c", "\\\\.\\COM41", "x"}, "x \r"},  // the port's device path
        {{"-q", "-c", "COM41:", "x"}, "x \r"},
        // The command line in UTF-8, as tolvane takes it: words, then --send.
        {{"-q", "-c", "COM41", "--send", "caf\xC3\xA9 \xE2\x9C\x93\\r", "caf\xC3\xA9\xE2\x9C\x93"},
         "caf\xC3\xA9\xE2\x9C\x93 \rcaf\xC3\xA9 \xE2\x9C\x93\r"},
    };
    for (const auto& c : cases) {
        Line line = line_open(41);
        Program run = start(c.args);
        EXPECT_EQ(finish(run), 0) << c.words << run.errors;
        EXPECT_EQ(line_hex(line, hex(with_reset(c.words))), hex(with_reset(c.words))) << c.words.substr(0, 20);
        EXPECT_EQ(run.output, "") << "no banner with -q";
        line_close(line);
    }
}

// As tolvane: no flow control unless --flow asks for it.
TEST(WinStartup, PortIsSet8N1WithoutFlowControl) {
    Line line = line_open(42);
    Program run = start({"-q", "-c", "COM42", "-b", "19200"});
    ASSERT_EQ(finish(run), 0) << run.output << run.errors;
    struct termios t;
    ASSERT_EQ(tcgetattr(line.slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u) << "no CTS output flow control";
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    line_close(line);
}

TEST(WinStartup, ScannerErrorsPrintMessageAndTheWindowsUsage) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"-c", "COM41", "-qc", "COM2"}, "option must not be clustered -- c"},
        {{"-c", "COM41", "-b9600"}, "option must be followed by white space -- b"},
        {{"-c", "COM41", "-b"}, "option requires an argument -- b"},
        {{"-c", "COM41", "-x"}, "illegal option -- x"},
        {{"-q", "-c", "", "reset"}, "option requires an argument -- c"},
        {{"-q", "-c", "COM41", "-b", "fast"}, "option needs a whole number of Baud -- b"},
    };
    for (const auto& c : cases) {
        Line line = line_open(41);
        Program run = start(c.args);
        EXPECT_EQ(finish(run), 2) << c.message;
        // A usage error and the usage go to standard error.
        EXPECT_EQ(run.output, "") << c.message;
        const std::string said = dos_newlines_to_unix(run.errors);
        const std::string first = windows_path(exe_path()) + ": " + c.message + "\n";
        EXPECT_EQ(said.substr(0, first.size()), first);
        EXPECT_TRUE(is_usage(said.substr(std::min(first.size(), said.size())))) << said;
        EXPECT_EQ(hex(line_drain(line, 100)), "") << "the port is never opened";
        line_close(line);
    }
}

TEST(WinStartup, PortsThatCannotBeOpenedExitWith255) {
    // COM0 and COM47 are mapped to nothing in this prefix.
    Program com0 = start({"-q", "-c", "COM0"});
    EXPECT_EQ(finish(com0), 255);
    Program missing = start({"-q", "-c", "COM47"});
    EXPECT_EQ(finish(missing), 255);

    // The system's texts end in a line end of their own, which is dropped.
    const std::regex shape("open COM(0|47): ([^\n]+)\n");
    std::smatch m0, m47;
    // On standard error; standard output stays empty.
    EXPECT_EQ(com0.output + missing.output, "");
    const std::string out0 = dos_newlines_to_unix(com0.errors);
    const std::string out47 = dos_newlines_to_unix(missing.errors);
    ASSERT_TRUE(std::regex_match(out0, m0, shape)) << com0.errors;
    ASSERT_TRUE(std::regex_match(out47, m47, shape)) << missing.errors;
    EXPECT_EQ(m0[1], "0");
    EXPECT_EQ(m47[1], "47");
    EXPECT_EQ(m0[2], m47[2]) << "both: the system's text for a port that is not there";

    // A name that is no port's is refused by that name.
    for (const char* device : {"/dev/ttyS4", "C:\\x"}) {
        Program run = start({"-q", "-c", device});
        EXPECT_EQ(finish(run), 255) << device;
        EXPECT_EQ(dos_newlines_to_unix(run.errors),
                  std::string("open ") + device + ": not a COM port (COM3, com3, 3 or \\\\.\\COM3)\n");
    }
}

// As in tolvane: below 300 Baud the port is not opened, and nothing is sent.
TEST(WinStartup, RatesBelow300ExitWith255) {
    Line line = line_open(41);
    Program run = start({"-q", "-c", "COM41", "-b", "299", "reset"});
    EXPECT_EQ(finish(run), 255);
    EXPECT_EQ(dos_newlines_to_unix(run.errors), "299 Baud not supported\n");
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(hex(line_drain(line, 100)), "");
    line_close(line);
}

TEST(WinStartup, BannerShowsTheDeviceAsGivenThenServesTheLine) {
    Line line = line_open(43);
    Program run = start({"-c", "com43", "-b", "57600"});
    ASSERT_TRUE(output_wait_for(run, "Exit with Ctrl-Q")) << run.output << run.errors;
    const std::regex banner("RS232 Tolvane [A-Z][a-z][a-z] [ 123][0-9] [0-9]{4} on com43 with 57600 Baud\n\n"
                            "Exit with Ctrl-Q\n\n");
    EXPECT_TRUE(output_wait_for(run, "Exit with Ctrl-Q\r\n\r\n"));
    EXPECT_TRUE(std::regex_match(dos_newlines_to_unix(run.output), banner)) << run.output;
    EXPECT_EQ(hex(line_read(line, 50)), hex(reset_sequence()));
    // Standard input is no console here: no keys, but the line is served.
    line_write(line, {0x02});
    EXPECT_EQ(hex(line_read(line, 1)), "03 ");
    kill_run(run);
    line_close(line);
}

// A profile from %APPDATA%\\tolvane\\config, which Wine keeps in the prefix
// (it sets APPDATA itself): its port and speed, the command line's over it.
TEST(WinStartup, AProfileFromAppData) {
    const char* user = getpwuid(getuid())->pw_name;
    const std::string dir = std::string(TOLVANE_WINEPREFIX) + "/drive_c/users/" + user + "/AppData/Roaming/tolvane";
    mkdir(dir.c_str(), 0755);
    std::ofstream(dir + "/config") << "# boards on this PC\r\n[board]\r\ndevice = COM43\r\nbaudrate = 57600\r\n";
    struct Case {
        std::vector<std::string> args;
        speed_t speed;
    } cases[] = {
        {{"-q", "-c", "board", "hi"}, B57600},
        {{"-q", "-c", "board", "-b", "9600", "hi"}, B9600},
    };
    for (const auto& c : cases) {
        Line line = line_open(43);
        Program run = start(c.args);
        EXPECT_EQ(finish(run), 0) << run.output << run.errors;
        EXPECT_EQ(line_hex(line, hex(with_reset("hi \r"))), hex(with_reset("hi \r")));
        struct termios t;
        ASSERT_EQ(tcgetattr(line.slave, &t), 0);
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        line_close(line);
    }
    unlink((dir + "/config").c_str());
}
