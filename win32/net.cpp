#include "win32/net.h"

#include <winsock2.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/keys.h"
#include "net/setup.h"
#include "net/telnet.h"
#include "net/url.h"
#include "win32/socket.h"

namespace tolvane {

namespace {

using clock = std::chrono::steady_clock;

bool telnet_line = false;
TelnetCodec codec;
std::string last_refusal;  // a reconnect says a refusal once
SOCKET setup_socket = INVALID_SOCKET;

// Waits at most ms for the socket to be readable or writable (or closed).
bool ready(bool for_writing, int ms) {
    return win_net_wait(setup_socket, (for_writing ? FD_WRITE : FD_READ) | FD_CLOSE, ms);
}

std::string socket_error() { return "Winsock error " + std::to_string(WSAGetLastError()); }

bool setup_send_all(const unsigned char* bytes, size_t count, int ms, std::string* why) {
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(ms);
    while (count > 0) {
        const int n = send(setup_socket, reinterpret_cast<const char*>(bytes), static_cast<int>(count), 0);
        if (n > 0) {
            bytes += n;
            count -= static_cast<size_t>(n);
            continue;
        }
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            *why = socket_error();
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left <= 0 || !ready(true, static_cast<int>(left))) {
            *why = "Connection timed out";
            return false;
        }
    }
    return true;
}

long setup_receive(unsigned char* buffer, size_t size, int ms, std::string* why) {
    if (!ready(false, ms)) return -1;  // the usual words
    const int got = recv(setup_socket, reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
    if (got >= 0) return got;
    *why = socket_error();
    return -1;
}

void pause_ms(int ms) { Sleep(static_cast<DWORD>(ms)); }

const NetSetupIo setup_io = {setup_send_all, setup_receive, pause_ms};

}  // namespace

bool net_is_url(const char* name) { return net_url_scheme(name) != net_scheme::none; }

com_port* net_line_open(const char* url, long baud, bool quiet) {
    NetUrl parts;
    std::string why;
    if (!net_url_parse(url, &parts, &why)) {
        if (!quiet) console_print("open: %s: %s\n", url, why.c_str());
        return nullptr;
    }
    telnet_line = parts.scheme == net_scheme::rfc2217;
    const SOCKET s = win_net_connect(parts, NET_CONNECT_PATIENCE_MS, &why);
    if (s == INVALID_SOCKET) {
        if (!quiet && !quit_requested()) console_print("open: %s: %s\n", url, why.c_str());
        return nullptr;
    }
    setup_socket = s;
    std::vector<unsigned char> early;
    if (telnet_line && !net_set_up_line(codec, url, baud, quiet, setup_io, &early, &last_refusal)) {
        win_net_close(s);
        return nullptr;
    }
    last_refusal.clear();
    com_port* port = com_record();
    if (port == nullptr) {
        win_net_close(s);
        return nullptr;
    }
    port->socket = s;
    // What came between the server's answers is the first data.
    port->in_end = std::min(early.size(), port->in_buffer.size());
    std::copy_n(early.begin(), port->in_end, port->in_buffer.begin());
    return port;
}

size_t net_line_received(com_port* port, unsigned char* bytes, size_t count) {
    if (!telnet_line) return count;
    const size_t data = telnet_decode(codec, bytes, count);
    port->out_count += telnet_take(codec, port->out_queue.data() + port->out_count, com_room(port));
    return data;
}

size_t net_line_encode(int byte, unsigned char* wire) {
    return telnet_wire_byte(telnet_line, static_cast<uint8_t>(byte), wire);
}

}  // namespace tolvane
