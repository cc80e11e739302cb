#include "win32/socket.h"

#include <gtest/gtest.h>
#include <ws2tcpip.h>

namespace tolvane {

namespace {

// A listening socket on 127.0.0.1 at a port of the system's choice.
SOCKET listen_on_loopback(std::string* port) {
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 1) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) != 0)
        return INVALID_SOCKET;
    *port = std::to_string(ntohs(a.sin_port));
    return s;
}

}  // namespace

TEST(WinNetConnect, ConnectsWithNoDelayAndSaysWhyNot) {
    std::string why;
    // The first call starts Winsock, which the listener needs too.
    win_net_connect({net_scheme::tcp, "no-such-host.invalid", "1"}, 1000, &why, nullptr);
    EXPECT_FALSE(why.empty());

    std::string port;
    const SOCKET listener = listen_on_loopback(&port);
    ASSERT_NE(listener, INVALID_SOCKET);
    why.clear();
    const SOCKET s = win_net_connect({net_scheme::tcp, "127.0.0.1", port}, 3000, &why, nullptr);
    ASSERT_NE(s, INVALID_SOCKET) << why;
    BOOL nodelay = FALSE;
    int size = sizeof nodelay;
    getsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&nodelay), &size);
    EXPECT_TRUE(nodelay);
    const SOCKET accepted = accept(listener, nullptr, nullptr);
    EXPECT_NE(accepted, INVALID_SOCKET);
    closesocket(accepted);
    win_net_close(s);
    closesocket(listener);

    // Nothing listens there any more.
    EXPECT_EQ(win_net_connect({net_scheme::tcp, "127.0.0.1", port}, 3000, &why, nullptr), INVALID_SOCKET);
    EXPECT_EQ(why, "Connection refused");
}

}  // namespace tolvane
