// tolvane-win's terminal in a real Wine console (a tmux pane): what the
// target sends shows up, what is typed goes to the target, Ctrl-Q ends it.
#include <gtest/gtest.h>
#include <termios.h>

#include "tests/win_harness.h"

using namespace win_e2e;

namespace {

class WinTerminal : public PaneTest {
protected:
    WinTerminal() : PaneTest("win-terminal", 45) {}

    // One key, and what it put on the line (awaited: what it should).
    std::string typed(const std::string& key, const std::string& awaited) {
        pane_keys(pane, {key});
        return line_hex(line, awaited, 500);
    }
};

}  // namespace

TEST_F(WinTerminal, ShowsTheTargetsTextWithoutFormFeeds) {
    // A form feed, bare or escaped, is dropped; DLE makes the next byte data.
    line_write(line, bytes("one\x0c" "two\x10\x0c" "three \x10" "A" "\x10\x10" "\r\n"));
    EXPECT_TRUE(pane_wait_for(pane, "onetwothree A")) << pane_text(pane);
    // A bare ETX outside a request, and an escaped STX, are only shown.
    line_write(line, bytes("x\x03y\x10\x02z\r\n"));
    EXPECT_TRUE(pane_wait_for(pane, "z")) << pane_text(pane);
    EXPECT_EQ(hex(line_drain(line, 300)), "") << "neither starts a request";
}

TEST_F(WinTerminal, BareStxStartsARequest) {
    line_write(line, {0x02});
    EXPECT_EQ(hex(line_read(line, 1)), "03 ");
    line_write(line, {0x7F});  // no such request
    // The message's byte 0x9A is code page 437's U with diaeresis, and shows
    // as one on the UTF-8 console (the pipe test sees the byte itself).
    EXPECT_TRUE(pane_wait_for(pane, "nicht implementierter RPC - \xC3\x9C" "bertragungsfehler oder"))
        << pane_text(pane);
}

TEST_F(WinTerminal, SendsKeysAsTheyComeAndLeavesOnCtrlQ) {
    EXPECT_EQ(typed("x", "78 "), "78 ");
    EXPECT_EQ(typed("C-b", "10 02 "), "10 02 ") << "control bytes travel escaped";
    EXPECT_EQ(typed("C-p", "10 10 "), "10 10 ");
    // Wine's console passes an arrow key's escape sequence on only with the
    // next key.
    pane_keys(pane, {"Up"});
    EXPECT_EQ(typed("y", "E0 48 79 "), "E0 48 79 ") << "a key of two codes: two bytes";
    EXPECT_EQ(typed("C-q", ""), "") << "Ctrl-Q sends nothing";
    EXPECT_EQ(pane_exit_status(pane), 0);
}

TEST_F(WinTerminal, CtrlCIsAKeyForTheTarget) {
    EXPECT_EQ(typed("C-c", "10 03 "), "10 03 ") << "Ctrl-C goes to the target, escaped";
    EXPECT_EQ(typed("z", "7A "), "7A ") << "and the program goes on";
    EXPECT_EQ(typed("C-q", ""), "");
    EXPECT_EQ(pane_exit_status(pane), 0);
}

// The command key in a Wine console: Ctrl-T twice and Ctrl-T Ctrl-Q send
// those keys, Ctrl-T v and b are the program's own lines, never sent, and
// Ctrl-T q ends as Ctrl-Q does.
TEST_F(WinTerminal, TheCommandKey) {
    pane_keys(pane, {"C-t"});
    EXPECT_EQ(typed("C-t", "14 "), "14 ");
    pane_keys(pane, {"C-t"});
    EXPECT_EQ(typed("C-q", "11 "), "11 ") << "sent, and the program goes on";
    pane_keys(pane, {"C-t"});
    EXPECT_EQ(typed("v", ""), "");
    EXPECT_TRUE(pane_wait_for(pane, "tolvane 1.0 (")) << pane_text(pane);
    pane_keys(pane, {"C-t"});
    EXPECT_EQ(typed("L", ""), "");
    // DTR and RTS raised at open, as Linux does; Ctrl-T c says the same.
    EXPECT_TRUE(pane_wait_for(pane, "COM45: 115200 Baud 8N1, no flow control; DTR on, RTS on")) << pane_text(pane);
    pane_keys(pane, {"C-t"});
    EXPECT_EQ(typed("c", ""), "");
    EXPECT_TRUE(pane_wait_for(pane, "modem lines: DTR raised at open, RTS raised at open")) << pane_text(pane);
    EXPECT_EQ(typed("x", "78 "), "78 ");
    pane_keys(pane, {"C-t"});
    EXPECT_EQ(typed("q", ""), "");
    EXPECT_EQ(pane_exit_status(pane), 0);
}

// A request waiting for the rest of its fields (STX, a get character's
// code, half a handle): keys wait, Ctrl-Q still ends the program, and the
// keys go out first.
TEST_F(WinTerminal, CtrlQEndsARequestInProgress) {
    line_write(line, {0x02});
    EXPECT_EQ(hex(line_read(line, 1)), "03 ");
    line_write(line, {0x04, 0x00});
    pane_keys(pane, {"a"});
    pane_keys(pane, {"b"});
    EXPECT_EQ(hex(line_drain(line, 300)), "") << "keys wait while the request runs";
    pane_keys(pane, {"C-q"});
    EXPECT_EQ(pane_exit_status(pane), 0);
    EXPECT_EQ(line_hex(line, "61 62 "), "61 62 ");
}

// -l: a copy of the session in a file, as the console showed it; with
// --hex the hex view, and after Ctrl-Q the log's end line, the hex line
// ended first.
TEST(WinSessionLog, HoldsWhatTheConsoleShowed) {
    const struct {
        std::vector<std::string> options;
        const char* board;
        const char* shown;
        std::vector<std::string> logged;
    } cases[] = {
        {{"-r"}, "hello\x0c board\r\n", "hello board",
         {"--- tolvane ", " on COM46\n", "Exit with Ctrl-Q\n\nhello board\r\n"}},
        {{"--hex"}, "AB\r\n", "41 42 0D 0A", {"Exit with Ctrl-Q\n\n41 42 0D 0A \n--- tolvane ended "}},
    };
    for (const auto& c : cases) {
        const std::string dir = scratch_dir("win-session-log");
        Line line = line_open(46);
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"-l", "board.log", "-c", "COM46"});
        Pane pane = pane_start(args, dir);
        ASSERT_TRUE(pane_started(pane)) << pane_text(pane);
        ASSERT_EQ(hex(line_read(line, 50)), hex(reset_sequence()));
        line_write(line, bytes(c.board));
        EXPECT_TRUE(pane_wait_for(pane, c.shown)) << pane_text(pane);
        pane_keys(pane, {"C-q"});
        EXPECT_EQ(pane_exit_status(pane), 0);
        pane_close(pane);
        line_close(line);

        const std::string logged = pty_io::file_text(dir + "/board.log");
        EXPECT_EQ(logged.rfind("--- tolvane ", 0), 0u) << logged;
        for (const std::string& part : c.logged) EXPECT_NE(logged.find(part), std::string::npos) << logged;
        EXPECT_EQ(logged.back(), '\n') << logged;
    }
}

// --plain in a Wine console: nothing sent at start, Ctrl-B, Ctrl-C and
// Ctrl-P go out bare, and a frame from the board is only shown.
TEST(WinPlain, KeysBareAndFramesNeverAnswered) {
    const std::string dir = scratch_dir("win-plain");
    Line line = line_open(61);
    Pane pane = pane_start({"-c", "COM61", "--plain"}, dir);
    ASSERT_TRUE(pane_started(pane)) << pane_text(pane);
    EXPECT_TRUE(pane_wait_for(pane, "plain")) << pane_text(pane);
    EXPECT_EQ(hex(line_drain(line, 500)), "") << "no reset";
    const struct {
        const char* key;
        const char* sent;
    } keys[] = {{"C-b", "02 "}, {"C-c", "03 "}, {"C-p", "10 "}, {"x", "78 "}};
    for (const auto& k : keys) {
        pane_keys(pane, {k.key});
        EXPECT_EQ(line_hex(line, k.sent, 500), k.sent) << k.key;
    }
    line_write(line, bytes("frame \x02\x7F\x03 shown\r\n"));
    EXPECT_TRUE(pane_wait_for(pane, "shown")) << pane_text(pane);
    EXPECT_EQ(hex(line_drain(line, 500)), "") << "nothing answered";
    pane_keys(pane, {"C-q"});
    EXPECT_EQ(pane_exit_status(pane), 0);
    pane_close(pane);
    line_close(line);
}

// Ctrl-T B on a COM port: the speed typed is set on the port, and nothing
// typed after the command key reaches the board.
TEST_F(WinTerminal, CtrlTBSetsTheSpeed) {
    pane_keys(pane, {"C-t"});
    pane_keys(pane, {"B"});
    EXPECT_TRUE(pane_wait_for(pane, "speed:")) << pane_text(pane);  // the pane drops the trailing space
    for (const char* key : {"5", "7", "6", "0", "0"}) pane_keys(pane, {key});
    EXPECT_EQ(typed("Enter", ""), "");
    EXPECT_TRUE(pane_wait_for(pane, "COM45: 57600 Baud")) << pane_text(pane);
    struct termios t;
    ASSERT_EQ(tcgetattr(line.slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
    EXPECT_EQ(typed("x", "78 "), "78 ");
    pane_keys(pane, {"C-q"});
    EXPECT_EQ(pane_exit_status(pane), 0);
}
