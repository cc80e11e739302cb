// tolvane-win sends a file by YMODEM as a CI step under Wine, lrzsz's rb on
// the board's side of its COM port.
#include <gtest/gtest.h>

#include "tests/pty_io.h"
#include "tests/win_harness.h"

using namespace win_e2e;

TEST(WinTransfer, YmodemStepSendsAFileToRb) {
    Line line = line_open(52);
    const std::string dir = scratch_dir("win_transfer");
    const std::string board = scratch_dir("win_transfer_board");
    const std::string data = pty_io::random_file(dir + "/data.bin", 150 * 1024);
    Program run = start({"-c", "COM52", "--no-erase", "--expect", "Ready for binary", "--ymodem", "data.bin",
                         "--expect", "Total Size", "--timeout", "90"},
                        dir);
    ASSERT_TRUE(output_wait_for(run, "Exit with Ctrl-Q", 20000)) << run.output << run.errors;
    line_write(line, bytes("## Ready for binary (ymodem)\r\n"));
    pty_io::Peer peer;
    pty_io::peer_start(peer, line.master, {"rb"}, board);
    EXPECT_EQ(pty_io::peer_finish(peer), 0);
    line_write(line, bytes("## Total Size = 153600 Bytes\r\n"));
    EXPECT_EQ(finish(run, 20000), 0) << run.output << run.errors;
    EXPECT_TRUE(pty_io::file_bytes(board + "/data.bin") == data);
    EXPECT_NE(run.output.find("YMODEM data.bin: sent, 153600 bytes"), std::string::npos) << run.output;
    line_close(line);
}
