// The share's and the events' far ends in tolvane-win: Winsock sockets,
// each with an event the wait (win32/wait.cpp) sleeps on; a file written
// as it comes (a file never keeps a writer waiting for long).
#include "net/endpoint.h"

#include <winsock2.h>
#include <afunix.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

#include "win32/socket.h"
#include "win32/wait.h"

namespace tolvane {

struct listener {
    SOCKET s = INVALID_SOCKET;
    WSAEVENT event = WSA_INVALID_EVENT;
    std::string path;
};

struct endpoint {
    SOCKET s = INVALID_SOCKET;
    WSAEVENT event = WSA_INVALID_EVENT;
    HANDLE file = INVALID_HANDLE_VALUE;
};

namespace {

constexpr int BACKLOG = 16;

std::string socket_error() { return "Winsock error " + std::to_string(WSAGetLastError()); }

// The socket's event, set on whatever it may want; non-blocking too.
WSAEVENT watch(SOCKET s, long events) {
    const WSAEVENT event = WSACreateEvent();
    if (event != WSA_INVALID_EVENT) WSAEventSelect(s, event, events);
    return event;
}

SOCKET listen_local(const std::string& path, std::string* why) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), std::min(path.size(), sizeof address.sun_path - 1));
    const SOCKET s = socket(AF_UNIX, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        *why = socket_error() + " (no AF_UNIX here: use tcp:)";
        return s;
    }
    DeleteFileA(path.c_str());  // a socket file left behind by an earlier run
    if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(s, BACKLOG) != 0) {
        *why = socket_error();
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

SOCKET listen_tcp(const share_address& address, std::string* why) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.host.empty() ? nullptr : address.host.c_str(), address.port.c_str(), &hints, &found) != 0) {
        *why = socket_error();
        return INVALID_SOCKET;
    }
    SOCKET s = INVALID_SOCKET;
    for (const addrinfo* a = found; a && s == INVALID_SOCKET; a = a->ai_next) {
        s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET) continue;
        // Nobody else may take the port while tolvane listens.
        const BOOL on = TRUE;
        setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
        if (bind(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0 || listen(s, BACKLOG) != 0) {
            *why = socket_error();
            closesocket(s);
            s = INVALID_SOCKET;
        }
    }
    freeaddrinfo(found);
    return s;
}

// Whether the socket can be read or written now, without waiting.
bool ready_now(SOCKET s, bool input, bool output) {
    fd_set readable, writable;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    if (input) FD_SET(s, &readable);
    if (output) FD_SET(s, &writable);
    timeval now{0, 0};
    return (input || output) && select(0, &readable, &writable, nullptr, &now) > 0;
}

}  // namespace

listener* listener_open(const share_address& address, std::string* why) {
    if (!win_net_started()) {
        *why = "Winsock did not start";
        return nullptr;
    }
    const SOCKET s = address.local ? listen_local(address.path, why) : listen_tcp(address, why);
    if (s == INVALID_SOCKET) return nullptr;
    listener* l = new listener;
    l->s = s;
    l->event = watch(s, FD_ACCEPT);
    if (address.local) l->path = address.path;
    return l;
}

endpoint* listener_accept(listener* l) {
    const SOCKET s = accept(l->s, nullptr, nullptr);
    if (s == INVALID_SOCKET) return nullptr;
    const BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    endpoint* e = new endpoint;
    e->s = s;
    e->event = watch(s, FD_READ | FD_WRITE | FD_CLOSE);
    return e;
}

void listener_close(listener* l) {
    if (l == nullptr) return;
    closesocket(l->s);
    if (l->event != WSA_INVALID_EVENT) WSACloseEvent(l->event);
    if (!l->path.empty()) DeleteFileA(l->path.c_str());
    delete l;
}

void listener_add_waits(listener* l, wait_set* set) {
    WSAResetEvent(l->event);
    if (ready_now(l->s, true, false)) set->ready_now = true;
    else wait_set_add(set, l->event);
}

// Winsock's events say little of what happened: every end is tried.
bool listener_ready(const listener*, const wait_set&) { return true; }
bool endpoint_ready(const endpoint*, const wait_set&) { return true; }
bool endpoint_readable(const endpoint*, const wait_set&) { return true; }

endpoint* endpoint_open_file(const std::string& path, std::string* why) {
    const HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *why = "cannot open it (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    endpoint* e = new endpoint;
    e->file = file;
    return e;
}

endpoint* endpoint_connect(const share_address& address, int ms, std::string* why) {
    if (!win_net_started()) {
        *why = "Winsock did not start";
        return nullptr;
    }
    SOCKET s = INVALID_SOCKET;
    if (address.local) {
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::memcpy(a.sun_path, address.path.c_str(), std::min(address.path.size(), sizeof a.sun_path - 1));
        s = socket(AF_UNIX, SOCK_STREAM, 0);
        if (s != INVALID_SOCKET && connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
            *why = socket_error();
            closesocket(s);
            s = INVALID_SOCKET;
        }
    } else {
        NetUrl url;
        url.host = address.host.empty() ? "localhost" : address.host;
        url.port = address.port;
        s = win_net_connect(url, ms, why, nullptr);  // a client of its own: no keys
    }
    if (s == INVALID_SOCKET) {
        if (why->empty()) *why = socket_error();
        return nullptr;
    }
    u_long non_blocking = 1;
    ioctlsocket(s, FIONBIO, &non_blocking);
    endpoint* e = new endpoint;
    e->s = s;
    e->event = watch(s, FD_READ | FD_CLOSE);
    return e;
}

bool endpoint_wait_input(endpoint* e, int ms) {
    if (ready_now(e->s, true, false)) return true;
    WSAResetEvent(e->event);
    if (ready_now(e->s, true, false)) return true;
    return WaitForSingleObject(e->event, static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
}

long endpoint_read(endpoint* e, unsigned char* buffer, size_t size) {
    if (e->file != INVALID_HANDLE_VALUE) return 0;
    const int n = recv(e->s, reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
    if (n > 0) return n;
    if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) return 0;
    return ENDPOINT_GONE;
}

long endpoint_write(endpoint* e, const unsigned char* bytes, size_t count) {
    if (e->file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        return WriteFile(e->file, bytes, static_cast<DWORD>(count), &written, nullptr) ? static_cast<long>(written)
                                                                                        : ENDPOINT_GONE;
    }
    const int n = send(e->s, reinterpret_cast<const char*>(bytes), static_cast<int>(count), 0);
    if (n >= 0) return n;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : ENDPOINT_GONE;
}

void endpoint_close(endpoint* e) {
    if (e == nullptr) return;
    if (e->file != INVALID_HANDLE_VALUE) CloseHandle(e->file);
    if (e->s != INVALID_SOCKET) closesocket(e->s);
    if (e->event != WSA_INVALID_EVENT) WSACloseEvent(e->event);
    delete e;
}

// What is ready now makes the wait look without sleeping; else the event
// wakes it (reset first, so that only what comes after the look counts).
void endpoint_add_waits(endpoint* e, wait_set* set, bool input, bool output) {
    if (e->file != INVALID_HANDLE_VALUE || (!input && !output)) return;
    WSAResetEvent(e->event);
    if (ready_now(e->s, input, output)) set->ready_now = true;
    else wait_set_add(set, e->event);
}

}  // namespace tolvane
