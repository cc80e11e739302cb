#include "win32/socket.h"

#include <ws2tcpip.h>

namespace tolvane {

namespace {

bool started() {
    static const bool ok = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ok;
}

// The same words tolvane prints for these on POSIX; Windows' own texts are
// long and localized.
std::string reason(int error) {
    switch (error) {
    case WSAECONNREFUSED:
        return "Connection refused";
    case WSAETIMEDOUT:
        return "Connection timed out";
    case WSAEHOSTUNREACH:
        return "No route to host";
    case WSAENETUNREACH:
        return "Network is unreachable";
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:
        return "Name or service not known";
    case WSATRY_AGAIN:
        return "Temporary failure in name resolution";
    }
    return "Winsock error " + std::to_string(error);
}

// One address within the time left; 0 or the error.
int connect_one(SOCKET s, const addrinfo* address, int timeout_ms) {
    if (connect(s, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0) return 0;
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return error;
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    const int n = select(0, nullptr, &writable, &failed, &limit);
    if (n == 0) return WSAETIMEDOUT;
    if (n < 0) return WSAGetLastError();
    int result = 0;
    int size = sizeof result;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&result), &size) != 0) return WSAGetLastError();
    return FD_ISSET(s, &failed) && result == 0 ? WSAECONNREFUSED : result;
}

}  // namespace

SOCKET win_net_connect(const NetUrl& url, int timeout_ms, std::string* why) {
    if (!started()) {
        *why = "Winsock did not start";
        return INVALID_SOCKET;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* addresses = nullptr;
    const int resolved = getaddrinfo(url.host.c_str(), url.port.c_str(), &hints, &addresses);
    if (resolved != 0) {
        *why = reason(resolved);
        return INVALID_SOCKET;
    }
    int error = WSAECONNREFUSED;
    SOCKET connected = INVALID_SOCKET;
    for (const addrinfo* a = addresses; a && connected == INVALID_SOCKET; a = a->ai_next) {
        const SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET) {
            error = WSAGetLastError();
            continue;
        }
        u_long non_blocking = 1;
        const BOOL on = TRUE;
        ioctlsocket(s, FIONBIO, &non_blocking);
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        error = connect_one(s, a, timeout_ms);
        if (error == 0) connected = s;
        else closesocket(s);
    }
    freeaddrinfo(addresses);
    if (connected == INVALID_SOCKET) *why = reason(error);
    return connected;
}

void win_net_close(SOCKET socket) {
    shutdown(socket, SD_SEND);
    closesocket(socket);
}

}  // namespace tolvane
