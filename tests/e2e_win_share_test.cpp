// tolvane-win --share tcp: under Wine: a client on a real socket gets the
// board's text and types to it, beside the keys piped in.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "tests/win_harness.h"
#include "tests/net_servers.h"

using namespace win_e2e;

namespace {

// Reads the socket until text came or 10 s passed.
bool socket_wait_for(int fd, const std::string& text, std::string* got) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (got->find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        char buf[1024];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) return false;
        got->append(buf, static_cast<size_t>(n));
    }
    return got->find(text) != std::string::npos;
}

TEST(WinShare, TcpClientSeesTheTextAndTypes) {
    const int port = e2e::free_port();
    Line line = line_open(63);
    Program run = start({"-c", "COM63", "--share", "tcp:127.0.0.1:" + std::to_string(port)}, scratch_dir("win-share"),
                        Keys::piped);
    const Bytes reset = line_read(line, 50);
    output_collect(run, 100);
    ASSERT_EQ(hex(reset), hex(reset_sequence())) << run.output << run.errors;
    ASSERT_TRUE(output_wait_for(run, "Exit with Ctrl-Q\r\n\r\n")) << run.output << run.errors;
    int fd = -1;
    for (int i = 0; i < 200 && fd < 0; ++i) {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(fd);
            fd = -1;
            usleep(50000);
        }
    }
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(output_wait_for(run, "client 1 joined (tcp:127.0.0.1:" + std::to_string(port) + ")")) << run.output;
    line_write(line, bytes("hello\r\n"));
    std::string got;
    EXPECT_TRUE(socket_wait_for(fd, "hello\r\n", &got)) << got;
    ASSERT_EQ(write(fd, "typed\r", 6), 6);
    EXPECT_EQ(hex(line_read(line, 6)), hex(bytes("typed\r")));
    keys_write(run, "k");
    EXPECT_EQ(hex(line_read(line, 1)), "6B ");
    keys_write(run, "\x11");
    EXPECT_EQ(finish(run), 0) << run.output << run.errors;
    EXPECT_FALSE(socket_wait_for(fd, "more", &got)) << "the client is still connected";
    close(fd);
    line_close(line);
}

}  // namespace
