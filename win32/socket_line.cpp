// Network lines in tolvane-win (rfc2217:// and tcp://, net/url.h): a
// Winsock connection moved by the same overlapped engine and the same wait
// as a COM port. Connects (win32/socket.h), sets rfc2217 lines up
// (net/setup.h) and keeps telnet out of the data.
#include <winsock2.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/keys.h"
#include "base/wait.h"
#include "net/net_line.h"
#include "net/setup.h"
#include "net/telnet.h"
#include "net/url.h"
#include "win32/overlapped_line.h"
#include "win32/socket.h"

namespace tolvane {

namespace {

class socket_line : public overlapped_line {
public:
    SOCKET socket = INVALID_SOCKET;
    net_line net;

    long read(unsigned char* buffer, size_t size) override {
        if (const size_t early = net.take_early(buffer, size)) return static_cast<long>(early);
        return overlapped_line::read(buffer, size);
    }
    int doubled_byte() const override { return net.doubled_byte(); }
    size_t take_output(unsigned char* dest, size_t room) override { return net.take_output(dest, room); }
    size_t input_held() const override { return net.early_held(); }
    long speed() const override { return net.baud; }
    bool set_speed(long baud) override { return net.set_speed(baud); }
    bool set_break(bool on) override { return net.set_break(on); }
    bool set_frame(const line_settings& frame) override { return net.set_frame(frame); }
    void purge(bool input, bool output) override { net.purge(input, output); }
    bool set_modem_line(modem_line line, bool on) override {
        return net.set_modem_line(line, on);
    }

protected:
    // WSABUF holds a byte count; WSA_IO_PENDING is ERROR_IO_PENDING.
    BOOL start_read_call(unsigned char* buffer, DWORD size, DWORD* got, OVERLAPPED* overlapped) override {
        WSABUF wsa{static_cast<ULONG>(size), reinterpret_cast<char*>(buffer)};
        DWORD flags = 0;
        if (WSARecv(socket, &wsa, 1, got, &flags, overlapped, nullptr) == 0) return TRUE;
        SetLastError(static_cast<DWORD>(WSAGetLastError()));
        return FALSE;
    }
    BOOL start_write_call(const unsigned char* bytes, DWORD count, DWORD* written, OVERLAPPED* overlapped) override {
        WSABUF wsa{static_cast<ULONG>(count), reinterpret_cast<char*>(const_cast<unsigned char*>(bytes))};
        if (WSASend(socket, &wsa, 1, written, 0, overlapped, nullptr) == 0) return TRUE;
        SetLastError(static_cast<DWORD>(WSAGetLastError()));
        return FALSE;
    }
    BOOL result_call(OVERLAPPED* overlapped, DWORD* count) override {
        DWORD flags = 0;
        return WSAGetOverlappedResult(socket, overlapped, count, FALSE, &flags);
    }
    HANDLE io_handle() const override { return reinterpret_cast<HANDLE>(socket); }

    void took(DWORD got) override {
        if (got == 0 || got > in_buffer.size()) {
            set_gone();  // the server closed the connection
            return;
        }
        const size_t data = net.decode(in_buffer.data(), got);
        if (data == 0) {
            start_read();  // only telnet came: read on
            return;
        }
        keep_received(data);
    }
    void after_failure() override { set_gone(); }  // the connection failed or was closed
    void close_device() override { win_net_close(socket); }
};

std::string last_refusal;  // a reconnect says a refusal once

std::string socket_error() { return "Winsock error " + std::to_string(WSAGetLastError()); }

// The connection's calls while the line is set up; their context.
struct setup_socket {
    SOCKET s;
    key_queue* keys;
};

bool setup_send_all(void* context, const unsigned char* bytes, size_t count, deadline until, std::string* why) {
    const setup_socket& connection = *static_cast<setup_socket*>(context);
    const SOCKET s = connection.s;
    while (count > 0) {
        const int n = send(s, reinterpret_cast<const char*>(bytes), static_cast<int>(count), 0);
        if (n > 0) {
            bytes += n;
            count -= static_cast<size_t>(n);
            continue;
        }
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            *why = socket_error();
            return false;
        }
        if (!win_net_wait(s, FD_WRITE | FD_CLOSE, until, connection.keys)) {
            *why = "Connection timed out";
            return false;
        }
    }
    return true;
}

long setup_receive(void* context, unsigned char* buffer, size_t size, deadline until, std::string* why) {
    const setup_socket& connection = *static_cast<setup_socket*>(context);
    const SOCKET s = connection.s;
    if (!win_net_wait(s, FD_READ | FD_CLOSE, until, connection.keys)) return -1;  // the usual words
    const int got = recv(s, reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
    if (got >= 0) return got;
    *why = socket_error();
    return -1;
}

void pause_ms(int ms) { Sleep(static_cast<DWORD>(ms)); }

}  // namespace

line_transport* win_socket_line(SOCKET s, long baud) {
    socket_line* line = new socket_line;
    line->socket = s;
    line->net.baud = baud;
    if (!line->made()) {
        win_net_close(s);
        delete line;
        return nullptr;
    }
    line->poll();  // the first read in flight
    return line;
}

line_transport* network_transport_open(const line_settings& settings, bool first, bool quiet, const wait_watch& watch) {
    const char* url = settings.device.c_str();
    NetUrl parts;
    std::string why;
    if (!net_url_parse(url, &parts, &why)) {
        if (!quiet) console_error("open: %s: %s\n", url, why.c_str());
        return nullptr;
    }
    if (parts.scheme == net_scheme::unix_socket) return local_transport_open(settings, parts.host, quiet);
    SOCKET s = win_net_connect(parts, NET_CONNECT_PATIENCE_MS, &why, watch.keys);
    if (s == INVALID_SOCKET) {
        if (!quiet && !quit_requested()) console_error("open: %s: %s\n", url, why.c_str());
        return nullptr;
    }
    socket_line* line = new socket_line;
    line->socket = s;
    line->net.baud = settings.baud;
    line->net.telnet = parts.scheme == net_scheme::rfc2217;
    setup_socket connection{s, watch.keys};
    const NetSetupIo io = {&connection, setup_send_all, setup_receive, pause_ms};
    if (!line->made() ||
        (line->net.telnet &&
         !net_set_up_line(line->net.codec, settings, first, quiet, io, &line->net.early, &last_refusal))) {
        win_net_close(s);
        delete line;
        return nullptr;
    }
    last_refusal.clear();
    line->poll();  // the first read in flight
    return line;
}

}  // namespace tolvane
