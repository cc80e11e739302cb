// Connecting and setting up a network line against scripted servers: what
// a real ser2net does not do on demand (refuse a setting, talk between its
// answers) and the address forms.
#include <memory>

#include "base/wait.h"
#include "posix/fd_transport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "base/settings.h"
#include "net/telnet.h"

using namespace tolvane;

namespace {

using Bytes = std::vector<uint8_t>;

// A server on the loopback address of family that takes one connection,
// reads what the client sends until it has seen until_seen bytes, then
// sends reply and reads until the client closes.
struct Script {
    int listener = -1;
    int port = 0;
    std::thread thread;
    Bytes received;

    Script(int family, size_t until_seen, Bytes reply) {
        listener = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage address{};
        socklen_t size;
        if (family == AF_INET6) {
            auto* a = reinterpret_cast<sockaddr_in6*>(&address);
            a->sin6_family = AF_INET6;
            a->sin6_addr = in6addr_loopback;
            size = sizeof *a;
        } else {
            auto* a = reinterpret_cast<sockaddr_in*>(&address);
            a->sin_family = AF_INET;
            a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            size = sizeof *a;
        }
        if (bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(listener, 1) != 0) {
            close(listener);
            listener = -1;
            return;
        }
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
        port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                        : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
        thread = std::thread([this, until_seen, reply] {
            const int fd = accept(listener, nullptr, nullptr);
            uint8_t buffer[4096];
            bool replied = false;
            for (;;) {
                if (!replied && received.size() >= until_seen) {
                    if (send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) < 0) break;
                    replied = true;
                }
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 5000) <= 0) break;
                const ssize_t n = read(fd, buffer, sizeof buffer);
                if (n <= 0) break;
                received.insert(received.end(), buffer, buffer + n);
            }
            close(fd);
        });
    }
    ~Script() {
        if (thread.joinable()) thread.join();
        if (listener >= 0) close(listener);
    }
};

constexpr uint8_t IAC = telnet::IAC, SB = telnet::SB, SE = telnet::SE, CPO = telnet::COM_PORT;
// The client's offers: WILL COM-PORT, WILL and DO binary, WILL and DO SGA.
constexpr size_t OFFERS = 15;
const Bytes TAKES_THE_OPTION = {IAC, telnet::DO, CPO};
const Bytes ANSWERS_AFTER_SPEED = {IAC, SB, CPO, 102, 8, IAC, SE, IAC, SB, CPO, 103, 1, IAC, SE,
                                    IAC, SB, CPO, 104, 1, IAC, SE, IAC, SB, CPO, 105, 1, IAC, SE};

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

using Line = std::unique_ptr<line_transport>;

int fd_of(const Line& line) { return line ? static_cast<const fd_transport*>(line.get())->fd : -1; }

std::string open_and_say(const std::string& url, long baud, Line* line, line_settings settings = {}) {
    settings.device = url;
    settings.baud = baud;
    testing::internal::CaptureStderr();
    line->reset(network_transport_open(settings, true, false, wait_watch{}));
    return testing::internal::GetCapturedStderr();
}

}  // namespace

TEST(SocketLine, DataBetweenTheAnswersIsReadFirstAndInOrder) {
    const Bytes reply = cat({TAKES_THE_OPTION, {'b', 'o', IAC, IAC},
                             {IAC, SB, CPO, 101, 0x00, 0x0E, 0x10, 0x00, IAC, SE}, {'o', 't'}, ANSWERS_AFTER_SPEED,
                             {'!'}});
    Script server(AF_INET, OFFERS, reply);
    ASSERT_GT(server.port, 0);
    Line line;
    EXPECT_EQ(open_and_say("rfc2217://127.0.0.1:" + std::to_string(server.port), 921600, &line), "");
    ASSERT_TRUE(line);
    const int fd = fd_of(line);
    int nodelay = 0;
    socklen_t size = sizeof nodelay;
    getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nodelay, &size);
    EXPECT_NE(nodelay, 0) << "TCP_NODELAY";
    EXPECT_GE(line->input_held(), 5u);  // the last byte may come in the same read
    Bytes data;
    uint8_t buffer[3];
    while (data.size() < 6) {
        pollfd p{fd, POLLIN, 0};
        if (line->input_held() == 0 && poll(&p, 1, 3000) <= 0) break;
        const long n = line->read(buffer, sizeof buffer);
        if (n > 0) data.insert(data.end(), buffer, buffer + n);
    }
    EXPECT_EQ(data, (Bytes{'b', 'o', 0xFF, 'o', 't', '!'}));
    uint8_t wire[2];
    EXPECT_EQ(line->encode(0xFF, wire), 2u);
    line->close(true, 500);
}

TEST(SocketLine, ARefusedSettingEndsTheOpenWithTheReason) {
    const Bytes reply = cat({TAKES_THE_OPTION, {IAC, SB, CPO, 101, 0x00, 0x01, 0xC2, 0x00, IAC, SE},
                             ANSWERS_AFTER_SPEED});
    Script server(AF_INET, OFFERS, reply);
    const std::string url = "rfc2217://127.0.0.1:" + std::to_string(server.port);
    Line line;
    EXPECT_EQ(open_and_say(url, 921600, &line), "open: " + url + ": server refused 921600 Baud (has 115200 Baud)\n");
    EXPECT_FALSE(line);
}

TEST(SocketLine, RawTcpOverIpv6SendsNothingOfItsOwn) {
    Script server(AF_INET6, 1, {});
    if (server.listener < 0) GTEST_SKIP() << "no IPv6 loopback here";
    Line line;
    EXPECT_EQ(open_and_say("tcp://[::1]:" + std::to_string(server.port), 115200, &line), "");
    ASSERT_TRUE(line);
    uint8_t wire[2];
    EXPECT_EQ(line->encode(0xFF, wire), 1u);
    EXPECT_EQ(line->write(wire, 1), 1);
    line->close(true, 500);
    server.thread.join();
    EXPECT_EQ(server.received, Bytes{0xFF});
}

TEST(SocketLine, NamesResolve) {
    Script server(AF_INET, 1, {});
    Line line;
    EXPECT_EQ(open_and_say("tcp://localhost:" + std::to_string(server.port), 115200, &line), "");
    ASSERT_TRUE(line);
    line->close(true, 0);
    Line none;
    const std::string said = open_and_say("tcp://no-such-host.invalid:1", 115200, &none);
    EXPECT_FALSE(none);
    EXPECT_EQ(said.rfind("open: tcp://no-such-host.invalid:1: ", 0), 0u) << said;
}

// --dtr, --rts and --pulse go to the server as SET-CONTROL commands once it
// agreed to the line's settings: the levels, then the pulse.
TEST(SocketLine, ModemLinesFollowTheSettings) {
    const Bytes reply = cat({TAKES_THE_OPTION, {IAC, SB, CPO, 101, 0x00, 0x01, 0xC2, 0x00, IAC, SE},
                             ANSWERS_AFTER_SPEED});
    Script server(AF_INET, OFFERS, reply);
    line_settings settings;
    settings.dtr = line_level::off;
    settings.rts = line_level::on;
    settings.pulse_line = modem_line::dtr;
    settings.pulse_ms = 20;
    Line line;
    EXPECT_EQ(open_and_say("rfc2217://127.0.0.1:" + std::to_string(server.port), 115200, &line, settings), "");
    ASSERT_TRUE(line);
    line->close(true, 500);
    server.thread.join();
    const auto control = [](uint8_t value) { return Bytes{IAC, SB, CPO, 5, value, IAC, SE}; };
    const Bytes expected = cat({control(9), control(11), control(8), control(9)});  // DTR off, RTS on, DTR on, off
    ASSERT_GE(server.received.size(), expected.size());
    EXPECT_EQ(Bytes(server.received.end() - static_cast<long>(expected.size()), server.received.end()), expected);
}
