// tolvane-win with its line over the network under Wine: a real ser2net
// (telnet(rfc2217) and raw tcp) and socat as a plain relay, each serving a
// pty on which the test plays the board.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "client/hostfs.h"
#include "tests/net_servers.h"
#include "tests/pty_io.h"
#include "tests/win_harness.h"

using namespace win_e2e;

namespace {

using e2e::ServedBy;

// A board on a pty mapped to COM90, served on 127.0.0.1; the Line is the
// board's end.
struct WinLab : e2e::Lab {
    Line board;
    ~WinLab() { line_close(board); }
};

std::string open_lab(WinLab& lab, ServedBy kind, const std::string& name) {
    lab.board = line_open(90);
    return e2e::serve(lab, kind, lab.board.path, scratch_dir(name + "_" + e2e::served_name(kind)));
}

#define OPEN_LAB(lab, kind, name) ASSERT_SERVED(open_lab(lab, kind, name))

// tolvane-win on the lab's URL, keys piped, past its banner and the reset.
Program connect(WinLab& lab, const std::vector<std::string>& more_args = {}) {
    std::vector<std::string> args{"-c", lab.url};
    args.insert(args.end(), more_args.begin(), more_args.end());
    Program run = start(args, lab.dir, Keys::piped);
    EXPECT_EQ(hex(line_read(lab.board, 50)), hex(reset_sequence()));
    EXPECT_TRUE(output_wait_for(run, "Exit with Ctrl-Q\r\n\r\n")) << run.output << run.errors;
    run.output.clear();
    return run;
}

class WinNetLine : public testing::TestWithParam<ServedBy> {};

}  // namespace

// Every byte value both ways, 0xFF most of all, then a file written and
// read back through the file service.
TEST_P(WinNetLine, EveryByteBothWaysAndFilesByteExact) {
    WinLab lab;
    OPEN_LAB(lab, GetParam(), "win_net");
    Program run = connect(lab);
    Bytes shown;
    for (int b = 0; b < 256; ++b)
        if (b != 0x02 && b != 0x10 && b != 0x0C) shown.push_back(static_cast<uint8_t>(b));
    line_write(lab.board, shown);
    EXPECT_TRUE(output_wait_size(run, shown.size()));
    EXPECT_EQ(hex(Bytes(run.output.begin(), run.output.end())), hex(shown));
    keys_write(run, "a\xFF" "b");
    EXPECT_EQ(hex(line_read(lab.board, 3)), "61 FF 62 ");

    target_attach(lab.board);
    Bytes data;
    for (int i = 0; i < 2 * 4096 + 100; ++i) data.push_back(i % 3 == 0 ? 0xFF : (i * 7) & 0xFF);
    const tolvane::host_file out = tolvane::host_fopen("board.bin", "wb");
    ASSERT_NE(out, 0u);
    EXPECT_EQ(tolvane::host_fwrite(data.data(), long(data.size()), out), long(data.size()));
    EXPECT_EQ(tolvane::host_fclose(out), 0);
    const tolvane::host_file in = tolvane::host_fopen("board.bin", "rb");
    ASSERT_NE(in, 0u);
    Bytes back(data.size() + 1);
    EXPECT_EQ(tolvane::host_fread(back.data(), long(back.size()), in), long(data.size()));
    back.pop_back();
    EXPECT_EQ(tolvane::host_fclose(in), 0);
    EXPECT_TRUE(back == data) << "the file as read back";
    EXPECT_FALSE(target_timed_out());
    keys_write(run, "\x11");
    EXPECT_EQ(finish(run), 0);
}

INSTANTIATE_TEST_SUITE_P(Servers, WinNetLine, testing::Values(ServedBy::rfc2217, ServedBy::ser2net_tcp, ServedBy::socat_tcp),
                         [](const testing::TestParamInfo<ServedBy>& info) { return e2e::served_name(info.param); });

// ser2net restarts: -w waits, reconnects without sending anything, goes on.
TEST(WinNetLineRfc2217, WaitsForTheServerAndGoesOnWhenItIsBack) {
    WinLab lab;
    OPEN_LAB(lab, ServedBy::rfc2217, "win_net_reconnect");
    Program run = connect(lab, {"-w"});
    e2e::stop(lab.ser2net);
    ASSERT_TRUE(output_wait_for(run, "waiting for " + lab.url + " (Ctrl-Q ends)\r\n")) << run.output;
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    ASSERT_EQ(e2e::restart_ser2net(lab.ser2net), "");
    ASSERT_TRUE(output_wait_for(run, lab.url + " back\r\n", 5000)) << run.output;
    EXPECT_EQ(hex(line_drain(lab.board, 300)), "") << "nothing is sent to the board";
    line_write(lab.board, bytes("again\r\n"));
    EXPECT_TRUE(output_wait_for(run, "again\r\n"));
    keys_write(run, "k");
    EXPECT_EQ(hex(line_read(lab.board, 1)), "6B ");
    keys_write(run, "\x11");
    EXPECT_EQ(finish(run), 0);
}

TEST(WinNetLineOpen, NothingListeningEndsWith255AndTheReason) {
    const std::string url = "tcp://127.0.0.1:" + std::to_string(e2e::free_port());
    Program run = start({"-c", url});
    EXPECT_EQ(finish(run), 255);
    EXPECT_EQ(dos_newlines_to_unix(run.errors), "open: " + url + ": Connection refused\n");
}
