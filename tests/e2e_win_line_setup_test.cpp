// tolvane-win under Wine: the frame and the flow control as the port's pty
// shows them, the modem-line requests as Wine's serial driver gets them,
// -w waiting for a port that does not exist yet, and --list.
#include <stdlib.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "tests/win_harness.h"

using namespace win_e2e;

namespace {

// The DTR and RTS requests in Wine's trace of its serial driver, in order.
std::string modem_requests(const std::string& trace) {
    std::string found;
    const std::regex request("IOCTL_SERIAL_((SET|CLR)_(DTR|RTS))");
    for (auto it = std::sregex_iterator(trace.begin(), trace.end(), request); it != std::sregex_iterator(); ++it)
        found += (*it)[1].str() + " ";
    return found;
}

constexpr tcflag_t FRAME_CFLAGS = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS;

// Whether a pty here holds these frame bits (Linux forces CS8 and no
// parity on every pty).
bool pty_holds(tcflag_t cflags) {
    Line probe = line_open(59);
    struct termios t;
    tcgetattr(probe.slave, &t);
    t.c_cflag = (t.c_cflag & ~FRAME_CFLAGS) | cflags;
    tcsetattr(probe.slave, TCSANOW, &t);
    tcgetattr(probe.slave, &t);
    line_close(probe);
    return (t.c_cflag & FRAME_CFLAGS) == cflags;
}

}  // namespace

// The port's settings (DCB) as Wine puts them on its pty, which keeps them
// after the program: no flow control unless asked for (an adapter that
// leaves CTS unasserted still gets every byte), RTS/CTS with --flow hard,
// XON/XOFF with soft, the frame asked for, or its refusal by name.
TEST(WinLineSetup, FrameAndFlowControlReachThePort) {
    struct Case {
        std::vector<std::string> args;
        tcflag_t cflags;
        tcflag_t iflags;
        std::string refused;  // what is said where the pty cannot hold cflags
    } cases[] = {
        {{}, CS8, 0, ""},
        {{"--flow", "none"}, CS8, 0, ""},
        {{"--flow", "hard"}, CS8 | CRTSCTS, 0, ""},
        {{"--flow=soft"}, CS8, IXON | IXOFF, ""},
        {{"--stopbits", "2"}, CS8 | CSTOPB, 0, ""},
        {{"--databits", "7", "--parity", "even", "--stopbits", "2"}, CS7 | PARENB | CSTOPB, 0, "7 data bits"},
    };
    for (const Case& c : cases) {
        const std::string what = c.args.empty() ? "the defaults" : c.args[0] + " " + c.args.back();
        const bool held = pty_holds(c.cflags);
        Line line = line_open(54);
        std::vector<std::string> args = {"-q", "-c", "COM54"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Program run = start(args);
        if (held) {
            EXPECT_EQ(finish(run), 0) << what << run.output << run.errors;
            struct termios t;
            ASSERT_EQ(tcgetattr(line.slave, &t), 0);
            EXPECT_EQ(t.c_cflag & FRAME_CFLAGS, c.cflags) << what;
            EXPECT_EQ(t.c_iflag & (IXON | IXOFF), c.iflags) << what;
            EXPECT_EQ(line_hex(line, hex(reset_sequence())), hex(reset_sequence())) << what;
        } else {
            EXPECT_EQ(finish(run), 255) << what;
            EXPECT_EQ(dos_newlines_to_unix(run.errors), "COM54: " + c.refused + " not supported\n") << what;
            EXPECT_EQ(hex(line_drain(line, 100)), "") << what << ": nothing is sent";
        }
        line_close(line);
    }
}

// Wine's pty-backed port takes no modem request (ERROR_NOT_SUPPORTED), so
// each one is seen in the trace, the message comes once and the session
// goes on. The pulse's own length cannot be seen there.
TEST(WinLineSetup, ModemRequestsReachTheDriverInOrder) {
    struct Case {
        std::vector<std::string> ask;
        std::string requests;
    } cases[] = {
        {{"--dtr", "off", "--rts", "on"}, "CLR_DTR SET_RTS "},
        {{"--rts=off", "--pulse=dtr:50"}, "CLR_RTS SET_DTR CLR_DTR "},
    };
    for (const Case& c : cases) {
        Line line = line_open(51);
        std::vector<std::string> args = {"-q", "-c", "COM51"};
        args.insert(args.end(), c.ask.begin(), c.ask.end());
        args.push_back("hi");
        setenv("WINEDEBUG", "-all,+comm", 1);
        Program run = start(args);
        setenv("WINEDEBUG", "-all", 1);
        EXPECT_EQ(finish(run), 0) << c.requests;
        EXPECT_EQ(modem_requests(run.errors), c.requests);
        EXPECT_EQ(dos_newlines_to_unix(run.output), "COM51: no modem lines\n");
        EXPECT_EQ(line_hex(line, hex(with_reset("hi \r"))), hex(with_reset("hi \r")));
        line_close(line);
    }
}

TEST(WinWaitAtStart, StartsOnceThePortExists) {
    Program run = start({"-w", "-q", "-c", "COM52", "reset"});
    ASSERT_TRUE(output_wait_for(run, "waiting for COM52 (Ctrl-Q ends)\r\n")) << run.output << run.errors;
    Line line = line_open(52);
    EXPECT_EQ(finish(run), 0) << run.output;
    EXPECT_EQ(line_hex(line, hex(with_reset("reset \r"))), hex(with_reset("reset \r")));
    line_close(line);
}

// In a real Wine console: Ctrl-Q ends the wait, status 0, no banner.
TEST(WinWaitAtStart, CtrlQEndsTheWait) {
    const std::string dir = scratch_dir("win-wait-start");
    Pane pane = pane_start({"-w", "-c", "COM53"}, dir);
    ASSERT_TRUE(pane_wait_for(pane, "waiting for COM53 (Ctrl-Q ends)")) << pane_text(pane);
    pane_keys(pane, {"x", "C-q"});
    EXPECT_EQ(pane_exit_status(pane), 0);
    EXPECT_EQ(pane_text(pane).find("RS232"), std::string::npos);
    pane_close(pane);
}

// What Wine's registry holds depends on the prefix (its own COM1, most
// often); every line must name a COM port, and nothing found is said.
TEST(WinListLines, NamesTheComPortsOfTheRegistry) {
    Program run = start({"--list"});
    EXPECT_EQ(finish(run), 0);
    const std::string said = dos_newlines_to_unix(run.output);
    ASSERT_FALSE(said.empty());
    if (said == "no serial lines found\n") return;
    std::istringstream lines(said);
    for (std::string l; std::getline(lines, l);)
        EXPECT_TRUE(std::regex_match(l, std::regex("COM[0-9]+(  .+)?"))) << l;
}
