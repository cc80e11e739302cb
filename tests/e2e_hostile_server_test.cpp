// A scripted RFC 2217 server that misbehaves: one that asks for the
// client's signature hundreds of times at once, one that floods data
// before it takes the line's settings. tolvane's key stream must stay
// whole and its memory bounded.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "tests/harness.h"

using namespace e2e;

namespace {

constexpr uint8_t IAC = 255, SB = 250, SE = 240, DO = 253, COM_PORT = 44;

// A server on 127.0.0.1 for one connection, its behaviour the test's.
struct Script {
    int listener = -1;
    int port = 0;
    int connection = -1;

    Script() {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (bind(listener, reinterpret_cast<sockaddr*>(&a), size) != 0 || listen(listener, 1) != 0) return;
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &size);
        port = ntohs(a.sin_port);
    }
    ~Script() {
        if (connection >= 0) close(connection);
        close(listener);
    }
    std::string url() const { return "rfc2217://127.0.0.1:" + std::to_string(port); }
    bool accept_one(int ms) {
        pollfd p{listener, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0) return false;
        connection = accept(listener, nullptr, nullptr);
        return connection >= 0;
    }
    // What the client sent within ms of quiet.
    Bytes receive(int quiet_ms) {
        Bytes got;
        uint8_t buffer[4096];
        for (;;) {
            pollfd p{connection, POLLIN, 0};
            if (poll(&p, 1, quiet_ms) <= 0) return got;
            const ssize_t n = read(connection, buffer, sizeof buffer);
            if (n <= 0) return got;
            got.insert(got.end(), buffer, buffer + n);
        }
    }
    void send(const Bytes& bytes) { pty_io::write_all(connection, bytes); }
};

// The client's stream with telnet taken out: the data, and whether every
// subnegotiation it began was closed with IAC SE.
struct Unwrapped {
    Bytes data;
    bool all_closed = true;
    size_t subnegotiations = 0;
};

Unwrapped unwrap(const Bytes& wire) {
    Unwrapped u;
    for (size_t i = 0; i < wire.size(); ++i) {
        if (wire[i] != IAC) {
            u.data.push_back(wire[i]);
            continue;
        }
        if (i + 1 >= wire.size()) break;
        const uint8_t verb = wire[++i];
        if (verb == IAC) {
            u.data.push_back(IAC);
        } else if (verb >= 251) {
            ++i;  // its option
        } else if (verb == SB) {
            ++u.subnegotiations;
            size_t j = i + 1;
            while (j + 1 < wire.size() && !(wire[j] == IAC && wire[j + 1] == SE)) j += wire[j] == IAC ? 2 : 1;
            if (j + 1 >= wire.size()) {
                u.all_closed = false;
                break;
            }
            i = j + 1;
        }
    }
    return u;
}

// Takes the COM-PORT-OPTION and answers every setting the client asks for
// with the value asked (the server's code is the client's plus 100).
void agree(Script& server) {
    server.send({IAC, DO, COM_PORT});
    const Bytes asked = server.receive(300);
    Bytes answers;
    for (size_t i = 0; i + 4 < asked.size(); ++i) {
        if (asked[i] != IAC || asked[i + 1] != SB || asked[i + 2] != COM_PORT) continue;
        size_t j = i + 3;
        answers.insert(answers.end(), {IAC, SB, COM_PORT, static_cast<uint8_t>(asked[j] + 100)});
        for (++j; j + 1 < asked.size() && !(asked[j] == IAC && asked[j + 1] == SE); ++j) answers.push_back(asked[j]);
        answers.insert(answers.end(), {IAC, SE});
        i = j;
    }
    server.send(answers);
}

}  // namespace

// Hundreds of signature requests at once fill tolvane's queue of telnet
// answers: the answers that go out are whole, and the keys typed after the
// burst reach the board as data.
TEST(HostileServer, ASignatureBurstLeavesTheKeysWhole) {
    Script server;
    ASSERT_GT(server.port, 0);
    Options options;
    options.line_pty = false;
    Session s = start({"-c", server.url()}, options);
    ASSERT_TRUE(server.accept_one(5000));
    Bytes sent = server.receive(300);  // the offers
    agree(server);
    ASSERT_TRUE(console_wait_for(s, "Exit with Ctrl-Q", 5000)) << s.console_output;
    ASSERT_TRUE(console_wait_raw(s));
    Bytes burst;
    for (int i = 0; i < 400; ++i) burst.insert(burst.end(), {IAC, SB, COM_PORT, 100, IAC, SE});
    server.send(burst);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    console_type(s, bytes("keys\x02!"));
    const Bytes rest = server.receive(500);
    sent.insert(sent.end(), rest.begin(), rest.end());
    console_type(s, {0x11});
    EXPECT_EQ(exit_code(wait_exit(s)), 0);

    const Unwrapped u = unwrap(sent);
    EXPECT_TRUE(u.all_closed) << "a subnegotiation left open";
    EXPECT_GT(u.subnegotiations, 5u) << "the settings and some signatures went out";
    const std::string data(u.data.begin(), u.data.end());
    EXPECT_NE(data.find("keys\x10\x02!"), std::string::npos) << "the keys, Ctrl-B after its DLE";
    close_pty(s.console);
}

// A server that floods data for two seconds before it takes the line's
// settings: tolvane gives the set-up up with a reason, its memory small.
TEST(HostileServer, AFloodBeforeTheSettingsKeepsMemorySmall) {
    Script server;
    ASSERT_GT(server.port, 0);
    Options options;
    options.line_pty = false;
    options.stdin_null = true;
    Session s = start({"-c", server.url()}, options);
    ASSERT_TRUE(server.accept_one(5000));
    server.receive(200);
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        const Bytes text(65536, 'f');
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!stop && std::chrono::steady_clock::now() < end) {
            if (write(server.connection, text.data(), text.size()) < 0) return;
        }
    });
    int status = 0;
    rusage usage{};
    const auto began = std::chrono::steady_clock::now();
    pid_t ended = 0;
    while (ended == 0 && std::chrono::steady_clock::now() - began < std::chrono::seconds(10)) {
        ended = wait4(s.pid, &status, WNOHANG, &usage);
        if (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop = true;
    close(server.connection);  // a write the flood is stuck in ends
    server.connection = -1;
    flood.join();
    ASSERT_EQ(ended, s.pid) << "still running";
    EXPECT_EQ(WEXITSTATUS(status), 255);
    EXPECT_LT(usage.ru_maxrss, 64 * 1024) << "KiB at most";
    EXPECT_NE(console_drain(s).find("more than 64 KiB"), std::string::npos) << s.console_output;
    close_pty(s.console);
}
