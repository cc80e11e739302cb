// tolvane-win in a real Wine console (a tmux pane) as people use it: the
// board's UTF-8 and colours shown as it meant them, keys typed as _getch
// gives them and characters as their UTF-8 bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/win_harness.h"

using namespace win_e2e;

namespace {

class WinConsole : public PaneTest {
protected:
    WinConsole() : PaneTest("win-console", 50) {}
};

}  // namespace

// UTF-8 as its characters, also where the line cuts a character in two;
// a byte that is no UTF-8 as in code page 437, as the console showed it
// before.
TEST_F(WinConsole, ShowsTheBoardsUtf8) {
    line_write(line, bytes("caf\xC3\xA9 \xE2\x9C\x93 board\r\n"));
    EXPECT_TRUE(pane_wait_for(pane, "caf\xC3\xA9 \xE2\x9C\x93 board")) << pane_text(pane);
    line_write(line, bytes("cut: \xE2\x9C"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    line_write(line, bytes("\x93 whole\r\n"));
    EXPECT_TRUE(pane_wait_for(pane, "cut: \xE2\x9C\x93 whole")) << pane_text(pane);
    line_write(line, bytes("437: \x9A" "bertragung\r\n"));
    EXPECT_TRUE(pane_wait_for(pane, "437: \xC3\x9C" "bertragung")) << pane_text(pane);
    pane_keys(pane, {"C-q"});
    EXPECT_EQ(pane_exit_status(pane), 0);
}

// A colour from the board reaches the console as its escape: it colours
// the text. (Wine's console takes them whatever its mode; the mode itself
// is looked at below.)
TEST_F(WinConsole, ShowsTheBoardsColours) {
    line_write(line, bytes("plain \x1B[31mred\x1B[0m plain\r\n"));
    EXPECT_TRUE(pane_wait_for(pane, "plain red plain")) << pane_text(pane);
    const std::string styled = pane_styled_text(pane);
    EXPECT_NE(styled.find("\x1B[31mred"), std::string::npos) << styled;
}

// Keys Wine's console reports without a character, and characters beyond
// ASCII, as they reach the line (0x03 after DLE, as Ctrl-C always goes).
TEST_F(WinConsole, SendsKeysAsGetchGivesThemAndCharactersAsUtf8) {
    const struct {
        std::vector<std::string> keys;  // tmux key names
        const char* line;
    } cases[] = {
        {{"Escape"}, "1B "},
        {{"M-x"}, "00 2D "},
        {{"BTab"}, "00 0F "},
        {{"C-@"}, "00 10 03 "},
        {{"F1"}, "00 3B "},
        {{"M-1"}, "00 78 "},
        {{"-l", "\xC3\xA9"}, "C3 A9 "},
        {{"-l", "\xE2\x82\xAC"}, "E2 82 AC "},
        {{"-l", "\xF0\x9F\x98\x80"}, "F0 9F 98 80 "},
    };
    for (const auto& c : cases) {
        if (c.keys[0] == "-l")
            pane_paste(pane, c.keys[1]);
        else
            pane_keys(pane, c.keys);
        // Wine's console holds a lone Esc a moment: it may start a sequence.
        EXPECT_EQ(line_hex(line, c.line, 700), c.line) << c.keys.back();
    }
    pane_keys(pane, {"C-q"});
    EXPECT_EQ(pane_exit_status(pane), 0);
}

// --keys vt: the keys a Linux or U-Boot shell understands, as tolvane sends
// them from a terminal; characters as before.
TEST(WinConsoleKeys, VtSendsWhatXtermSends) {
    const std::string dir = scratch_dir("win-console-keys");
    Line line = line_open(55);
    Pane pane = pane_start({"-c", "COM55", "--keys", "vt"}, dir);
    ASSERT_TRUE(pane_started(pane)) << pane_text(pane);
    ASSERT_EQ(hex(line_read(line, 50)), hex(reset_sequence()));
    const struct {
        const char* key;  // a tmux key name
        const char* line;
    } cases[] = {
        // (Wine's console takes no Home or End from tmux: the unit tests have those.)
        {"Up", "1B 5B 41 "},      {"Left", "1B 5B 44 "},      {"DC", "1B 5B 33 7E "},
        {"PPage", "1B 5B 35 7E "}, {"F1", "1B 4F 50 "},       {"F5", "1B 5B 31 35 7E "},
        {"F12", "1B 5B 32 34 7E "}, {"BTab", "1B 5B 5A "},   {"M-x", "1B 78 "},     {"a", "61 "},
    };
    for (const auto& c : cases) {
        pane_keys(pane, {c.key});
        EXPECT_EQ(line_hex(line, c.line, 700), c.line) << c.key;
    }
    pane_keys(pane, {"C-q"});
    EXPECT_EQ(pane_exit_status(pane), 0);
    pane_close(pane);
    line_close(line);
}

// The console's code pages and mode can only be looked at from within it:
// the unit test that does, run in a pane (elsewhere it has no console).
TEST(WinConsoleSession, IsUtf8WhileTakenAndAsItWasAfter) {
    const std::string dir = scratch_dir("win-console-session");
    Pane pane = pane_start_program(build_path("unit_tests.exe"), {"--gtest_filter=ConsoleSession.*", "--gtest_color=no"}, dir);
    EXPECT_EQ(pane_exit_status(pane, 30000), 0) << pane_text(pane);
    EXPECT_TRUE(pane_wait_for(pane, "[  PASSED  ] 1 test.")) << pane_text(pane);
    EXPECT_EQ(pane_text(pane).find("SKIPPED"), std::string::npos) << pane_text(pane);
    pane_close(pane);
}
