#include "win32/socket.h"

#include <ws2tcpip.h>

#include <memory>
#include <mutex>
#include <thread>

#include "base/keys.h"
#include "base/time_limit.h"
#include "win32/console.h"

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
int connect_one(SOCKET s, const addrinfo* address, int timeout_ms, key_queue* keys) {
    if (connect(s, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0) return 0;
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return error;
    if (!win_net_wait(s, FD_CONNECT | FD_WRITE | FD_CLOSE, deadline::in(timeout_ms), keys))
        return quit_requested() ? WSAEINTR : WSAETIMEDOUT;
    int result = 0;
    int size = sizeof result;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&result), &size) != 0) return WSAGetLastError();
    if (result != 0) return result;
    // Some stacks leave the error at 0 after a refused connect.
    sockaddr_storage peer;
    int peer_size = sizeof peer;
    return getpeername(s, reinterpret_cast<sockaddr*>(&peer), &peer_size) == 0 ? 0 : WSAECONNREFUSED;
}

// Whether one of network_events has happened already (an event select
// records some only from the moment it is made).
bool happened(SOCKET s, long network_events) {
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    if (network_events & (FD_READ | FD_CLOSE)) FD_SET(s, &readable);
    if (network_events & (FD_WRITE | FD_CONNECT)) FD_SET(s, &writable);
    if (network_events & FD_CONNECT) FD_SET(s, &failed);
    timeval now{0, 0};
    return select(0, &readable, &writable, &failed, &now) > 0;
}

// Waits for event, reading keys into keys meanwhile (none: not read) where
// the console is taken; false at until, at the --timeout or on Ctrl-Q.
bool event_or_keys(HANDLE event, deadline until, key_queue* keys) {
    while (!quit_requested() && !time_limit_passed()) {
        const int left = time_limit_cut(until).left_ms();
        if (left == 0) return false;
        HANDLE handles[3] = {event};
        const DWORD n = 1 + static_cast<DWORD>(keys ? console_wait_handles(handles + 1) : 0);
        const DWORD woke = WaitForMultipleObjects(n, handles, FALSE, left < 0 ? INFINITE : static_cast<DWORD>(left));
        if (woke == WAIT_OBJECT_0) return true;
        if (woke == WAIT_TIMEOUT || woke == WAIT_FAILED) return false;
        if (keys) console_read_keys(*keys);
    }
    return false;
}

// A name lookup in a thread of its own: the resolver may take seconds or
// never answer, and Ctrl-Q and the --timeout must not wait for it. A lookup
// given up frees its own result when it ends.
struct lookup {
    std::mutex lock;
    bool done = false;
    int result = 0;
    addrinfo* addresses = nullptr;
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    ~lookup() {
        if (addresses) freeaddrinfo(addresses);
        if (ready) CloseHandle(ready);
    }
};

void look_up(std::shared_ptr<lookup> l, std::string host, std::string port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* addresses = nullptr;
    const int result = getaddrinfo(host.c_str(), port.c_str(), &hints, &addresses);
    std::lock_guard<std::mutex> guard(l->lock);
    l->result = result;
    l->addresses = addresses;
    l->done = true;
    SetEvent(l->ready);
}

// The addresses of the URL's host, null with why (or on Ctrl-Q).
addrinfo* resolve(const NetUrl& url, std::string* why, key_queue* keys) {
    auto l = std::make_shared<lookup>();
    if (l->ready == nullptr) {
        *why = "no event for the name lookup";
        return nullptr;
    }
    std::thread(look_up, l, url.host, url.port).detach();
    event_or_keys(l->ready, deadline::never(), keys);
    std::lock_guard<std::mutex> guard(l->lock);
    if (!l->done) {
        *why = "Interrupted";  // Ctrl-Q or the --timeout: the thread finishes alone
        return nullptr;
    }
    if (l->result != 0) {
        *why = reason(l->result);
        return nullptr;
    }
    addrinfo* addresses = l->addresses;
    l->addresses = nullptr;
    return addresses;
}

}  // namespace

bool win_net_started() { return started(); }

SOCKET win_net_connect(const NetUrl& url, int timeout_ms, std::string* why, key_queue* keys) {
    if (!started()) {
        *why = "Winsock did not start";
        return INVALID_SOCKET;
    }
    addrinfo* addresses = resolve(url, why, keys);
    if (addresses == nullptr) return INVALID_SOCKET;
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
        error = connect_one(s, a, timeout_ms, keys);
        if (error == 0) connected = s;
        else closesocket(s);
    }
    freeaddrinfo(addresses);
    if (connected == INVALID_SOCKET) *why = reason(error);
    return connected;
}

bool win_net_wait(SOCKET socket, long network_events, deadline until, key_queue* keys) {
    const WSAEVENT event = WSACreateEvent();
    if (event == WSA_INVALID_EVENT || WSAEventSelect(socket, event, network_events) != 0) {
        if (event != WSA_INVALID_EVENT) WSACloseEvent(event);
        return false;
    }
    const bool ready = happened(socket, network_events) || event_or_keys(event, until, keys);
    // The socket goes back to plain non-blocking use (overlapped I/O).
    WSAEventSelect(socket, nullptr, 0);
    WSACloseEvent(event);
    return ready;
}

void win_net_close(SOCKET socket) {
    shutdown(socket, SD_SEND);
    closesocket(socket);
}

}  // namespace tolvane
