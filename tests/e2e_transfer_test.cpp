// Files by XMODEM and YMODEM with lrzsz on the board's side of the line:
// by the command keys, as CI steps, and cut short.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/harness.h"

using namespace e2e;
using pty_io::file_bytes;
using pty_io::Peer;
using pty_io::peer_finish;
using pty_io::peer_start;
using pty_io::random_file;

namespace {

constexpr uint8_t CTRL_T = 0x14, CTRL_Q = 0x11, ESC = 0x1B, CAN = 0x18;
constexpr size_t FILE_SIZE = 150 * 1024;

// tolvane in a directory of its own holding data.bin, past its banner.
struct Board {
    std::string dir;
    std::string data;
    Session s;
};

void begin(Board& run, const std::string& name, std::vector<std::string> args, bool keyboard = true,
           size_t size = FILE_SIZE) {
    run.dir = scratch_dir(name);
    run.data = random_file(run.dir + "/data.bin", size);
    args.insert(args.begin(), {"-c", "{line}", "--no-erase"});
    Options options;
    options.workdir = run.dir;
    options.stdin_null = !keyboard;
    run.s = start(args, options);
    ASSERT_TRUE(console_wait_for(run.s, "Exit with Ctrl-Q"));
    if (keyboard) {
        ASSERT_TRUE(console_wait_raw(run.s));
    }
}

// XMODEM pads the last block with Ctrl-Z up to 128 bytes.
void expect_padded(const std::string& got, const std::string& sent) {
    ASSERT_GE(got.size(), sent.size());
    EXPECT_LT(got.size() - sent.size(), 128u);
    EXPECT_TRUE(got.compare(0, sent.size(), sent) == 0) << "the data arrived changed";
    EXPECT_EQ(got.substr(sent.size()), std::string(got.size() - sent.size(), '\x1a'));
}

struct SendCase {
    const char* what;
    uint8_t key;
    std::string prompt;
    std::vector<std::string> peer;
    std::string received;  // the name the peer stores
    bool padded;
    size_t size = FILE_SIZE;
};

}  // namespace

// Ctrl-T y or x, the path on the program's own line, then the board's
// receiver; the board's text after the transfer is shown.
TEST(Transfer, SendsByTheCommandKeys) {
    const std::vector<SendCase> cases = {
        {"YMODEM to rb", 'y', "send by YMODEM: ", {"rb"}, "data.bin", false},
        {"XMODEM 1K with CRC to rx -c", 'x', "send by XMODEM: ", {"rx", "-c", "got.bin"}, "got.bin", true},
        // 128-byte blocks: a smaller file, each lost block costs rx 5 s.
        {"XMODEM with checksums to rx", 'x', "send by XMODEM: ", {"rx", "got.bin"}, "got.bin", true, 10000},
    };
    for (const SendCase& c : cases) {
        SCOPED_TRACE(c.what);
        // lrzsz throws its input away just after each answer, so on a
        // pty a block now and then is lost and asked for again after 5 to
        // 13 s: slow, never a failure.
        Board run;
        begin(run, std::string("transfer_keys_") + c.peer.front() + std::to_string(c.peer.size()), {}, true, c.size);
        console_type(run.s, {CTRL_T, c.key});
        ASSERT_TRUE(console_wait_for(run.s, c.prompt));
        console_type(run.s, bytes("data.bin\r"));
        ASSERT_TRUE(console_wait_for(run.s, "waiting for the receiver (Esc cancels)")) << run.s.console_output;
        const std::string board = scratch_dir(std::string("transfer_board_") + c.peer.front() +
                                              std::to_string(c.peer.size()));
        Peer peer;
        peer_start(peer, run.s.line.master, c.peer, board);
        EXPECT_EQ(peer_finish(peer), 0) << run.s.console_output;
        line_write(run.s, bytes("the board goes on\r\n"));
        EXPECT_TRUE(console_wait_for(run.s, ": sent, " + std::to_string(c.size) + " bytes in")) << run.s.console_output;
        EXPECT_TRUE(console_wait_for(run.s, "the board goes on")) << run.s.console_output;
        const std::string got = file_bytes(board + "/" + c.received);
        if (c.padded)
            expect_padded(got, run.data);
        else
            EXPECT_TRUE(got == run.data) << "got " << got.size() << " bytes";
        end_with_ctrl_q(run.s);
        close_all(run.s);
    }
}

// Ctrl-T Y: sb's file lands in the -d directory; one there already is
// kept, the new one is name.1.
TEST(Transfer, ReceivesIntoTheRootKeepingWhatIsThere) {
    const std::string board = scratch_dir("transfer_sb_board");
    const std::string sent = random_file(board + "/data.bin", FILE_SIZE);
    Board run;
    const std::string root = scratch_dir("transfer_sb_root");
    random_file(root + "/data.bin", 10);
    const std::string old = file_bytes(root + "/data.bin");
    begin(run, "transfer_sb", {"-d", root});
    console_type(run.s, {CTRL_T, 'Y'});
    ASSERT_TRUE(console_wait_for(run.s, "YMODEM: receiving into " + root + " (Esc cancels)"));
    Peer peer;
    peer_start(peer, run.s.line.master, {"sb", "data.bin"}, board);
    EXPECT_EQ(peer_finish(peer), 0);
    EXPECT_TRUE(console_wait_for(run.s, "YMODEM: received data.bin.1")) << run.s.console_output;
    EXPECT_TRUE(console_wait_for(run.s, "YMODEM: done, 1 file")) << run.s.console_output;
    EXPECT_TRUE(file_bytes(root + "/data.bin.1") == sent);
    EXPECT_EQ(file_bytes(root + "/data.bin"), old);
    end_with_ctrl_q(run.s);
    close_all(run.s);
}

TEST(Transfer, ReceiveIsRefusedReadOnly) {
    Board run;
    begin(run, "transfer_read_only", {"-p"});
    console_type(run.s, {CTRL_T, 'Y', 'a'});
    EXPECT_TRUE(console_wait_for(run.s, "no YMODEM receive: the files are read-only (-p)"));
    EXPECT_EQ(hex(line_read(run.s, 1)), hex({'a'})) << "the terminal goes on";
    end_with_ctrl_q(run.s);
    close_all(run.s);
}

// The CI steps, headless: the board says it is ready, its receiver takes
// the file, its text after it ends the run with 0.
TEST(Transfer, CiStepsSendHeadless) {
    const std::vector<SendCase> cases = {
        {"--ymodem", 0, "--ymodem", {"rb"}, "data.bin", false},
        {"--xmodem", 0, "--xmodem", {"rx", "-c", "got.bin"}, "got.bin", true},
    };
    for (const SendCase& c : cases) {
        SCOPED_TRACE(c.what);
        Board run;
        begin(run, std::string("transfer_ci") + c.prompt,
              {"--expect", "Ready for binary", c.prompt, "data.bin", "--expect", "Total Size", "--timeout", "60"},
              false);
        line_write(run.s, bytes("## Ready for binary (ymodem) download\r\n"));
        const std::string board = scratch_dir(std::string("transfer_ci_board") + c.prompt);
        Peer peer;
        peer_start(peer, run.s.line.master, c.peer, board);
        EXPECT_EQ(peer_finish(peer), 0);
        line_write(run.s, bytes("## Total Size      = 0x00025800 = 153600 Bytes\r\n"));
        EXPECT_EQ(exit_code(wait_exit(run.s, 10000)), 0) << run.s.console_output;
        const std::string got = file_bytes(board + "/" + c.received);
        if (c.padded)
            expect_padded(got, run.data);
        else
            EXPECT_TRUE(got == run.data) << "got " << got.size() << " bytes";
        close_all(run.s);
    }
}

// A step that fails ends the run with 1 and says why on standard error;
// Esc cancels a transfer at the keyboard and the terminal goes on.
TEST(Transfer, FailedStepsEndWith1AndEscCancels) {
    {
        Board run;
        begin(run, "transfer_missing", {"--ymodem", "missing.bin", "--expect", "Total Size"}, false);
        EXPECT_EQ(exit_code(wait_exit(run.s)), 1);
        EXPECT_TRUE(console_wait_for(run.s, "failed: YMODEM missing.bin: No such file or directory"))
            << run.s.console_output;
        close_all(run.s);
    }
    {
        Board run;
        begin(run, "transfer_cancelled", {"--ymodem", "data.bin", "--expect", "Total Size"}, false);
        line_write(run.s, bytes("C"));
        EXPECT_EQ(line_read(run.s, 133).size(), 133u) << "the header";
        line_write(run.s, {CAN, CAN});
        EXPECT_EQ(exit_code(wait_exit(run.s)), 1);
        EXPECT_TRUE(console_wait_for(run.s, "failed: YMODEM data.bin: cancelled by the receiver"))
            << run.s.console_output;
        close_all(run.s);
    }
    {
        Board run;
        begin(run, "transfer_esc", {});
        console_type(run.s, {CTRL_T, 'y'});
        console_type(run.s, bytes("data.bin\r"));
        ASSERT_TRUE(console_wait_for(run.s, "waiting for the receiver"));
        line_write(run.s, bytes("C"));
        EXPECT_EQ(line_read(run.s, 133).size(), 133u) << "the header";
        console_type(run.s, {ESC});
        EXPECT_EQ(hex(line_read(run.s, 2)), hex({CAN, CAN}));
        EXPECT_TRUE(console_wait_for(run.s, "YMODEM data.bin failed: cancelled")) << run.s.console_output;
        line_write(run.s, bytes("the board goes on\r\n"));
        EXPECT_TRUE(console_wait_for(run.s, "the board goes on"));
        console_type(run.s, {'k'});
        EXPECT_EQ(hex(line_read(run.s, 1)), hex({'k'})) << "keys go to the board again";
        console_type(run.s, {CTRL_Q});
        EXPECT_EQ(exit_code(wait_exit(run.s)), 0);
        close_all(run.s);
    }
}
