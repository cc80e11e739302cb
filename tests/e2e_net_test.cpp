// The line over the network: the real tolvane against a real ser2net (its
// telnet(rfc2217) port and its raw tcp port) and against socat as a plain
// relay, each serving a pty on which the test plays the board.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "client/hostfs.h"
#include "tests/harness.h"
#include "tests/net_servers.h"

using namespace e2e;

namespace {

using Kind = ServedBy;

// A board on a pty, served on 127.0.0.1. Its servers stop with it.
struct PtyLab : Lab {
    Pty board;
    ~PtyLab() { close_pty(board); }
};

std::string open_lab(PtyLab& lab, Kind kind, const std::string& name) {
    lab.board = open_pty();
    return serve(lab, kind, lab.board.path, scratch_dir(name + "_" + served_name(kind)));  // tests run side by side
}

#define OPEN_LAB(lab, kind, name) ASSERT_SERVED(open_lab(lab, kind, name))

Options in_dir(const std::string& dir) {
    Options o;
    o.workdir = dir;
    o.line_pty = false;
    return o;
}

// tolvane on the lab's URL (more_args after -c URL), past its banner with
// the reset read on the board.
Session connect(PtyLab& lab, const std::vector<std::string>& more_args = {}) {
    std::vector<std::string> args{"-c", lab.url};
    args.insert(args.end(), more_args.begin(), more_args.end());
    Session s = start(args, in_dir(lab.dir));
    EXPECT_EQ(hex(pty_io::read_exactly(lab.board.master, 50, 5000)), hex(reset_sequence()));
    EXPECT_TRUE(console_wait_for(s, "Exit with Ctrl-Q\r\n\r\n")) << s.console_output;
    EXPECT_TRUE(console_wait_raw(s));
    return s;
}

void quit(Session& s) {
    console_type(s, {0x11});
    EXPECT_EQ(exit_code(wait_exit(s)), 0);
    EXPECT_TRUE(same_settings(settings(s.console.slave), s.console_at_start));
    close_pty(s.console);
}

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Every byte value as the board puts it on the line, and as the console
// shows it (form feeds are dropped).
Bytes board_every_byte() {
    Bytes wire;
    for (int b = 0; b < 256; ++b) {
        if (b == 0x02 || b == 0x03 || b == 0x10) wire.push_back(0x10);
        wire.push_back(static_cast<uint8_t>(b));
    }
    return wire;
}

std::string shown_every_byte() {
    std::string shown;
    for (int b = 0; b < 256; ++b)
        if (b != 0x0C) shown += static_cast<char>(b);
    return shown;
}

class NetLine : public testing::TestWithParam<Kind> {};

}  // namespace

TEST_P(NetLine, EveryByteValueBothWays) {
    PtyLab lab;
    OPEN_LAB(lab, GetParam(), "net_bytes");
    const bool rfc2217 = GetParam() == Kind::rfc2217;
    // Said before the connection: it comes while the line is set up.
    pty_io::write_all(lab.board.master, bytes("booted\r\n"));
    Session s = connect(lab, rfc2217 ? std::vector<std::string>{"-b", "921600"} : std::vector<std::string>{});
    EXPECT_TRUE(console_wait_for(s, "booted\r\n")) << s.console_output;
    // A raw TCP line claims no speed: it has the server's.
    EXPECT_NE(s.console_output.find(" on " + lab.url + (rfc2217 ? " with 921600 Baud\r\n" : "\r\n")),
              std::string::npos)
        << s.console_output;
    const std::string note = lab.url + ": speed and modem lines are the server's\r\n";
    EXPECT_EQ(s.console_output.find(note) != std::string::npos, !rfc2217) << s.console_output;
    if (rfc2217) {
        // The server's line as asked: 921600 Baud, 8N1, no flow control.
        const struct termios t = settings(lab.board.slave);
        EXPECT_EQ(cfgetospeed(&t), speed_t(B921600));
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
    }

    pty_io::write_all(lab.board.master, board_every_byte());
    pty_io::write_all(lab.board.master, bytes("<end>"));
    ASSERT_TRUE(console_wait_for(s, shown_every_byte() + "<end>")) << hex(bytes(s.console_output));

    Bytes keys, expected;
    for (int k = 0; k < 256; ++k) {
        if (k == 0x11) continue;  // Ctrl-Q
        if (k == 0x14) keys.push_back(0x14);  // Ctrl-T, the command key: twice sends it
        keys.push_back(static_cast<uint8_t>(k));
        if (k == 0x02 || k == 0x03 || k == 0x10) expected.push_back(0x10);
        expected.push_back(k == 0x7F ? 0x08 : static_cast<uint8_t>(k));  // DEL goes as BS
    }
    console_type(s, keys);
    EXPECT_EQ(hex(pty_io::read_exactly(lab.board.master, expected.size(), 5000)), hex(expected));
    quit(s);
}

TEST_P(NetLine, FilesWrittenAndReadBackByteExact) {
    PtyLab lab;
    OPEN_LAB(lab, GetParam(), "net_files");
    Session s = connect(lab);
    pty_io::target_attach(lab.board.master, 5000);
    // Every byte value, 0xFF and the frame marks most of all.
    Bytes data;
    for (int i = 0; i < 3 * 4096 + 100; ++i) data.push_back(i % 3 == 0 ? 0xFF : i % 5 == 0 ? 0x10 : (i * 7) & 0xFF);
    const tolvane::host_file out = tolvane::host_fopen("board.bin", "wb");
    ASSERT_NE(out, 0u);
    EXPECT_EQ(tolvane::host_fwrite(data.data(), long(data.size()), out), long(data.size()));
    EXPECT_EQ(tolvane::host_fclose(out), 0);
    EXPECT_TRUE(bytes(pty_io::file_text(lab.dir + "/board.bin")) == data) << "the file as written";

    const tolvane::host_file in = tolvane::host_fopen("board.bin", "rb");
    ASSERT_NE(in, 0u);
    Bytes back;
    uint8_t block[4096];
    long n;
    while ((n = tolvane::host_fread(block, sizeof block, in)) > 0) back.insert(back.end(), block, block + n);
    EXPECT_EQ(tolvane::host_fclose(in), 0);
    EXPECT_EQ(back.size(), data.size());
    EXPECT_TRUE(back == data) << "the file as read back";
    EXPECT_FALSE(pty_io::target_timed_out());
    quit(s);
}

INSTANTIATE_TEST_SUITE_P(Servers, NetLine, testing::Values(Kind::rfc2217, Kind::ser2net_tcp, Kind::socat_tcp),
                         [](const testing::TestParamInfo<Kind>& info) { return served_name(info.param); });

TEST(NetLineRfc2217, CtrlQInTheMiddleOfARequestEndsAtOnce) {
    PtyLab lab;
    OPEN_LAB(lab, Kind::rfc2217, "net_ctrl_q");
    Session s = connect(lab);
    pty_io::write_all(lab.board.master, {0x02});
    ASSERT_EQ(hex(pty_io::read_exactly(lab.board.master, 1, 3000)), "03 ");
    pty_io::write_all(lab.board.master, bytes(std::string("\0half.t", 7)));  // an open, its name cut short
    pause_ms(100);
    const auto typed = std::chrono::steady_clock::now();
    quit(s);
    EXPECT_LT(std::chrono::steady_clock::now() - typed, std::chrono::seconds(2));
    EXPECT_EQ(access((lab.dir + "/half.t").c_str(), F_OK), -1);
}

// ser2net restarts (a lab host rebooting): -w waits, reconnects without
// sending anything, and the session goes on.
TEST(NetLineRfc2217, WaitsForTheServerAndGoesOnWhenItIsBack) {
    PtyLab lab;
    OPEN_LAB(lab, Kind::rfc2217, "net_reconnect");
    Session s = connect(lab, {"-w"});
    pty_io::write_all(lab.board.master, bytes("up\r\n"));
    ASSERT_TRUE(console_wait_for(s, "up\r\n"));

    stop(lab.ser2net);
    ASSERT_TRUE(console_wait_for(s, "waiting for " + lab.url + " (Ctrl-Q ends)\r\n")) << s.console_output;
    console_type(s, {'x'});  // no line to go to: dropped
    pause_ms(600);           // a few attempts while nothing listens
    ASSERT_EQ(restart_ser2net(lab.ser2net), "");
    ASSERT_TRUE(console_wait_for(s, lab.url + " back\r\n", 3000)) << s.console_output;
    EXPECT_EQ(hex(pty_io::read_until_quiet(lab.board.master, 300)), "") << "nothing is sent to the board";

    pty_io::write_all(lab.board.master, bytes("again\r\n"));
    ASSERT_TRUE(console_wait_for(s, "again\r\n"));
    console_type(s, {'k'});
    EXPECT_EQ(hex(pty_io::read_exactly(lab.board.master, 1, 3000)), hex({'k'}));
    quit(s);
}

// The frame asked for goes to ser2net as SET-DATASIZE, SET-PARITY and
// SET-STOPSIZE, and ser2net sets the board's pty so: what the pty holds
// of it shows there (Linux keeps the stop bits of a pty, and forces 8 bits
// without parity). The command keys' requests go there too.
TEST(NetLineRfc2217, TheFrameReachesTheBoardsLine) {
    PtyLab lab;
    OPEN_LAB(lab, Kind::rfc2217, "net_frame");
    Session s = connect(lab, {"--databits", "7", "--parity", "even", "--stopbits", "2", "--flow", "hard"});
    const struct termios t = settings(lab.board.slave);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u) << "2 stop bits";
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u) << "RTS/CTS flow control";
    EXPECT_EQ(t.c_cflag & PARODD, 0u) << "even parity";
    if (pty_holds_frame(CS7 | PARENB)) {
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB), tcflag_t(CS7 | PARENB));
    }
    // ser2net takes the command keys' break and DTR, and the keys go on.
    console_type(s, {0x14, 'b', 0x14, 'd', 'k'});
    EXPECT_EQ(hex(pty_io::read_exactly(lab.board.master, 1, 3000)), hex({'k'}));
    EXPECT_TRUE(console_wait_for(s, "break sent (250 ms)\r\nDTR off\r\n")) << s.console_output;
    // Ctrl-T B: the speed typed goes as SET-BAUDRATE; ser2net sets the pty.
    console_type(s, {0x14, 'B', '5', '7', '6', '0', '0', '\r', 'm'});
    EXPECT_EQ(hex(pty_io::read_exactly(lab.board.master, 1, 3000)), hex({'m'}));
    EXPECT_TRUE(console_wait_for(s, "speed: 57600\r\n" + lab.url + ": 57600 Baud\r\n")) << s.console_output;
    const struct termios after = settings(lab.board.slave);
    EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B57600));
    quit(s);
}

namespace {

// Where needle first appears in haystack from `from` on; npos when not.
size_t find_bytes(const Bytes& haystack, const Bytes& needle, size_t from = 0) {
    if (from > haystack.size()) return std::string::npos;
    const auto at = std::search(haystack.begin() + static_cast<long>(from), haystack.end(), needle.begin(), needle.end());
    return at == haystack.end() ? std::string::npos : static_cast<size_t>(at - haystack.begin());
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

}  // namespace

// Against a server that records what it gets: the frame and the flow
// control go out as COM-PORT commands at the open; the command keys'
// break (on, then off), DTR and RTS as SET-CONTROL in their place among
// the keys, and the line's state shows the levels set.
TEST(NetLineRfc2217, TheFrameAndTheCommandKeysReachTheServer) {
    Rfc2217Recorder server;
    ASSERT_EQ(start_rfc2217_recorder(server), "");
    Session s = start({"-c", server.url(), "--databits", "7", "--parity", "even", "--stopbits", "2", "--flow", "soft"},
                      in_dir(scratch_dir("net_recorded")));
    ASSERT_TRUE(console_wait_for(s, "Exit with Ctrl-Q\r\n\r\n")) << s.console_output;
    ASSERT_TRUE(console_wait_raw(s));
    const Bytes frame = cat({com_port_request(2, 7), com_port_request(3, 3), com_port_request(4, 2),
                             com_port_request(5, 2)});
    const Bytes keys = cat({{'a'}, com_port_request(5, 5), com_port_request(5, 6), {'c'}, com_port_request(5, 9),
                            com_port_request(5, 12), {'e'}});
    console_type(s, {'a', 0x14, 'b', 'c', 0x14, 'd', 0x14, 'r', 'e', 0x14, 'L'});
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (find_bytes(server.so_far(), keys) == std::string::npos && std::chrono::steady_clock::now() < until)
        pause_ms(20);
    const Bytes got = server.so_far();
    const size_t frame_at = find_bytes(got, frame);
    EXPECT_NE(frame_at, std::string::npos) << hex(got);
    const size_t reset_at = find_bytes(got, reset_sequence(), frame_at);
    EXPECT_NE(reset_at, std::string::npos) << "the reset after the frame: " << hex(got);
    EXPECT_EQ(find_bytes(got, keys, reset_at), got.size() - keys.size()) << hex(got);
    EXPECT_TRUE(console_wait_for(s, "break sent (250 ms)\r\nDTR off\r\nRTS off\r\n" + server.url() +
                                        ": 115200 Baud 7E2, soft flow control (XON/XOFF); DTR off, RTS off\r\n"))
        << s.console_output;
    quit(s);
}

TEST(NetLineOpen, NothingListeningEndsWith255AndTheReason) {
    const std::string url = "rfc2217://127.0.0.1:" + std::to_string(free_port());
    Session s = start({"-c", url}, in_dir(scratch_dir("net_refused")));
    EXPECT_EQ(exit_code(wait_exit(s)), 255);
    EXPECT_EQ(s.console_output, "open: " + url + ": Connection refused\r\n");
    close_pty(s.console);
}

// A raw TCP line carries the bytes as they are: the frame and the flow
// control asked for cannot reach the server's line, and are refused
// before anything is connected.
TEST(NetLineOpen, ATcpLineRefusesTheFrameAndFlowOptions) {
    for (const char* option : {"--databits=7", "--parity=even", "--stopbits=2", "--flow=none"}) {
        const std::string url = "tcp://127.0.0.1:" + std::to_string(free_port());
        Session s = start({"-c", url, option}, in_dir(scratch_dir("net_tcp_frame")));
        EXPECT_EQ(exit_code(wait_exit(s)), 2) << option;
        EXPECT_EQ(s.console_output.find(tolvane_path() + ": " + url + " carries the bytes as they are: --databits, "
                                        "--parity, --stopbits and --flow need rfc2217://\r\n"),
                  0u)
            << s.console_output;
        close_pty(s.console);
    }
}

TEST(NetLineOpen, ABadUrlIsAUsageError) {
    const char* const urls[] = {"rfc2217://lab-host", "tcp://lab-host:port", "tcp://:3001"};
    const char* const whys[] = {"no port (HOST:PORT)", "port is not a number", "no host (HOST:PORT)"};
    for (size_t i = 0; i < 3; ++i) {
        Session s = start({"-c", urls[i]}, in_dir(scratch_dir("net_bad_url")));
        EXPECT_EQ(exit_code(wait_exit(s)), 2) << urls[i];
        EXPECT_EQ(s.console_output.find(tolvane_path() + ": " + urls[i] + ": " + whys[i] + " -- c\r\n"), 0u)
            << s.console_output;
        close_pty(s.console);
    }
}

// A file by YMODEM through ser2net's RFC 2217 port at 115200 Baud, rb on
// the board's pty: 0xFF bytes go doubled on the wire and arrive once.
TEST(NetLineTransfer, YmodemThroughSer2netAt115200) {
    PtyLab lab;
    OPEN_LAB(lab, Kind::rfc2217, "transfer");
    const std::string data = pty_io::random_file(lab.dir + "/data.bin", 150 * 1024);
    Options options = in_dir(lab.dir);
    options.stdin_null = true;
    Session s = start({"-c", lab.url, "-b", "115200", "--no-erase", "--ymodem", "data.bin", "--expect", "Total Size",
                       "--timeout", "90"},
                      options);
    ASSERT_TRUE(console_wait_for(s, "waiting for the receiver", 5000)) << s.console_output;
    const std::string board = scratch_dir("transfer_ser2net_board");
    pty_io::Peer peer;
    pty_io::peer_start(peer, lab.board.master, {"rb"}, board);
    EXPECT_EQ(pty_io::peer_finish(peer), 0);
    pty_io::write_all(lab.board.master, bytes("## Total Size = 153600 Bytes\r\n"));
    EXPECT_EQ(exit_code(wait_exit(s, 10000)), 0) << s.console_output;
    EXPECT_TRUE(pty_io::file_bytes(board + "/data.bin") == data);
    close_all(s);
}
