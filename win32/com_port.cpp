#include "win32/com_port.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/console.h"
#include "win32/modem.h"
#include "win32/net.h"
#include "win32/socket.h"

namespace tolvane {

namespace {

// Reads in a row that fail with the port still answering ClearCommError:
// past this many the device is taken as gone (a pty whose other end closed
// answers every read with an error).
constexpr int FAILURES_BEFORE_GONE = 8;
// Empty reads in a row after which WaitCommEvent is no longer trusted (a
// driver that ends it at once with nothing): the wait then looks again
// after this many milliseconds instead of spinning.
constexpr int EMPTY_TURNS_BEFORE_LOOKING = 3;
constexpr int LOOK_AGAIN_MS = 10;
constexpr DWORD CANCEL_PATIENCE_MS = 1000;

bool is_net(const com_port* port) { return port->socket != INVALID_SOCKET; }

// The port's or the connection's own calls; WSABUF holds a byte count.
BOOL read_some(com_port* port, DWORD* got) {
    if (!is_net(port))
        return ReadFile(port->handle, port->in_buffer.data(), static_cast<DWORD>(port->in_buffer.size()), got,
                        &port->read_op.overlapped);
    WSABUF buffer{static_cast<ULONG>(port->in_buffer.size()), reinterpret_cast<char*>(port->in_buffer.data())};
    DWORD flags = 0;
    if (WSARecv(port->socket, &buffer, 1, got, &flags, &port->read_op.overlapped, nullptr) == 0) return TRUE;
    SetLastError(static_cast<DWORD>(WSAGetLastError()));  // WSA_IO_PENDING is ERROR_IO_PENDING
    return FALSE;
}

BOOL write_some(com_port* port, DWORD* written) {
    if (!is_net(port))
        return WriteFile(port->handle, port->in_flight.data(), static_cast<DWORD>(port->flight_count), written,
                         &port->write_op.overlapped);
    WSABUF buffer{static_cast<ULONG>(port->flight_count), reinterpret_cast<char*>(port->in_flight.data())};
    if (WSASend(port->socket, &buffer, 1, written, 0, &port->write_op.overlapped, nullptr) == 0) return TRUE;
    SetLastError(static_cast<DWORD>(WSAGetLastError()));
    return FALSE;
}

bool is_c_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

void close_events(com_port* port) {
    for (com_operation* op : {&port->read_op, &port->write_op, &port->event_op})
        if (op->overlapped.hEvent != nullptr) CloseHandle(op->overlapped.hEvent);
}

// Starts op; true when it is in flight, false when it finished at once
// (ok then says how).
bool pending(BOOL started, com_operation* op, bool* ok) {
    *ok = started != FALSE;
    if (!started && GetLastError() == ERROR_IO_PENDING) {
        op->in_flight = true;
        *ok = true;
        return true;
    }
    return false;
}

// An operation failed: a line error to fetch (the port aborts on one and
// takes nothing more until then), or a device gone for good.
void after_failure(com_port* port) {
    if (is_net(port)) {
        port->gone = true;  // the connection failed or was closed
        return;
    }
    DWORD errors;
    if (!ClearCommError(port->handle, &errors, nullptr) || ++port->failures >= FAILURES_BEFORE_GONE)
        port->gone = true;
}

void write_failed(com_port* port) {
    if (!is_net(port)) console_print("COM write error\n");  // a lost connection says so itself
    after_failure(port);
}

void start_read(com_port* port);

void start_event_wait(com_port* port) {
    if (is_net(port) || port->empty_turns >= EMPTY_TURNS_BEFORE_LOOKING) return;
    bool ok;
    if (pending(WaitCommEvent(port->handle, &port->event_mask, &port->event_op.overlapped), &port->event_op, &ok))
        return;
    if (!ok) port->empty_turns = EMPTY_TURNS_BEFORE_LOOKING;  // no events here: look now and then
}

void took(com_port* port, DWORD got) {
    if (is_net(port)) {
        if (got == 0 || got > port->in_buffer.size()) {
            port->gone = true;  // the server closed the connection
            return;
        }
        got = static_cast<DWORD>(net_line_received(port, port->in_buffer.data(), got));
        if (got == 0) {
            start_read(port);  // only telnet came: read on
            return;
        }
    }
    if (got > 0 && got <= port->in_buffer.size()) {
        port->in_next = 0;
        port->in_end = got;
        port->empty_turns = 0;
        port->failures = 0;
        ++console_line_reads;
        return;
    }
    ++port->empty_turns;
    start_event_wait(port);
}

void start_read(com_port* port) {
    DWORD got = 0;
    bool ok;
    if (pending(read_some(port, &got), &port->read_op, &ok)) return;
    if (ok)
        took(port, got);
    else
        after_failure(port);
}

void start_write(com_port* port) {
    std::memcpy(port->in_flight.data(), port->out_queue.data(), port->out_count);
    port->flight_count = port->out_count;
    port->out_count = 0;
    DWORD written = 0;
    bool ok;
    if (pending(write_some(port, &written), &port->write_op, &ok)) return;
    port->flight_count = 0;
    if (!ok) write_failed(port);
}

// The result of an operation that has finished; false when it failed.
bool finished(com_port* port, com_operation* op, DWORD* count) {
    op->in_flight = false;
    *count = 0;
    if (!is_net(port)) return GetOverlappedResult(port->handle, &op->overlapped, count, FALSE) != FALSE;
    DWORD flags = 0;
    return WSAGetOverlappedResult(port->socket, &op->overlapped, count, FALSE, &flags) != FALSE;
}

bool done(const com_operation& op) { return op.in_flight && HasOverlappedIoCompleted(&op.overlapped); }

// True once op is over (or was not in flight).
bool wait_out(com_port* port, com_operation* op) {
    if (!op->in_flight) return true;
    const HANDLE handle = is_net(port) ? reinterpret_cast<HANDLE>(port->socket) : port->handle;
    CancelIoEx(handle, &op->overlapped);
    // A driver ends a cancelled operation at once; one that does not must
    // not hold up the way out.
    if (WaitForSingleObject(op->overlapped.hEvent, CANCEL_PATIENCE_MS) != WAIT_OBJECT_0) return false;
    op->in_flight = false;
    return true;
}

}  // namespace

const COMMTIMEOUTS com_timeouts = {
    MAXDWORD,  // ReadIntervalTimeout: with the two zeros, a read ends with
    0,         // what has arrived (Wine keeps an overlapped read waiting
    0,         // for the first byte; Windows ends it at once, empty)
    0,         // WriteTotalTimeoutMultiplier and
    0,         // WriteTotalTimeoutConstant: a write never gives up on its own
};

DCB com_settings(long baud) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = 1;
    dcb.XonLim = 0;
    dcb.XoffLim = 0;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    return dcb;
}

com_port* com_record() {
    com_port* port = new (std::nothrow) com_port{};
    if (port == nullptr) return nullptr;
    port->handle = INVALID_HANDLE_VALUE;
    for (com_operation* op : {&port->read_op, &port->write_op, &port->event_op}) {
        op->overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (op->overlapped.hEvent == nullptr) {
            close_events(port);
            delete port;
            return nullptr;
        }
    }
    return port;
}

com_port* com_open(int number, long baud, int in_queue, int out_queue, bool quiet) {
    com_port* port = com_record();
    if (port == nullptr) return nullptr;
    char name[24];
    std::snprintf(name, sizeof name, "COM%d", number);
    // Only COM1..COM9 are known by their bare names; the device path reaches
    // every port.
    char path[32];
    std::snprintf(path, sizeof path, "\\\\.\\%s", name);
    port->dcb = com_settings(baud);
    modem_dcb_levels(&port->dcb);  // --dtr, --rts

    port->handle =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port->handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (!quiet) com_show_open_error(name);
        close_events(port);
        delete port;
        SetLastError(error);  // -w at start tells a port not there yet by it
        return nullptr;
    }
    if (!SetupComm(port->handle, static_cast<DWORD>(in_queue), static_cast<DWORD>(out_queue)) ||
        !SetCommState(port->handle, &port->dcb)) {
        if (!quiet) com_show_open_error(name);
        CloseHandle(port->handle);
        close_events(port);
        delete port;
        return nullptr;
    }
    COMMTIMEOUTS timeouts = com_timeouts;
    SetCommTimeouts(port->handle, &timeouts);
    SetCommMask(port->handle, EV_RXCHAR);
    com_set_modem_lines(port->handle, name);  // --dtr, --rts, --pulse
    return port;
}

void com_close(com_port* port) {
    if (port == nullptr) return;
    const bool over = wait_out(port, &port->read_op) & wait_out(port, &port->event_op) &
                      wait_out(port, &port->write_op);
    if (is_net(port))
        win_net_close(port->socket);
    else
        CloseHandle(port->handle);
    // An operation that never ended may still write into the record: it is
    // left to it rather than freed.
    if (!over) return;
    close_events(port);
    delete port;
}

void com_poll(com_port* port) {
    DWORD count;
    if (done(port->read_op)) {
        if (finished(port, &port->read_op, &count))
            took(port, count);
        else
            after_failure(port);
    }
    if (done(port->event_op)) finished(port, &port->event_op, &count);
    if (done(port->write_op)) {
        const size_t sent = port->flight_count;
        port->flight_count = 0;
        if (!finished(port, &port->write_op, &count) || count < sent) write_failed(port);
    }
    if (port->gone) return;
    if (com_buffered(port) == 0 && !port->read_op.in_flight && !port->event_op.in_flight) start_read(port);
    if (port->out_count > 0 && !port->write_op.in_flight) start_write(port);
}

int com_wait_handles(const com_port* port, HANDLE* handles) {
    int n = 0;
    for (const com_operation* op : {&port->read_op, &port->event_op, &port->write_op})
        if (op->in_flight) handles[n++] = op->overlapped.hEvent;
    return n;
}

int com_wait_ms(const com_port* port) {
    const bool waits_for_input = port->read_op.in_flight || port->event_op.in_flight || com_buffered(port) > 0;
    return waits_for_input || port->gone ? -1 : LOOK_AGAIN_MS;
}

void com_queue(com_port* port, const unsigned char* bytes, size_t count) {
    if (count > com_room(port)) count = com_room(port);
    std::memcpy(port->out_queue.data() + port->out_count, bytes, count);
    port->out_count += count;
}

void com_drop_output(com_port* port) {
    port->out_count = 0;
    if (wait_out(port, &port->write_op)) port->flight_count = 0;
    if (!is_net(port)) PurgeComm(port->handle, PURGE_TXABORT | PURGE_TXCLEAR);
}

void com_show_open_error(const char* port_name) {
    // Opened without sharing: another program's handle shows as this.
    if (GetLastError() == ERROR_ACCESS_DENIED) {
        console_print("open: %s: line in use by another program\n", port_name);
        return;
    }
    console_print("open %s: ", port_name);
    show_system_error();
}

void show_system_error() {
    const DWORD error = GetLastError();
    char* text = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, error,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) {
        console_print("error %lu\n", static_cast<unsigned long>(error));
        return;
    }
    // The system's text ends in its own CR LF; the program adds the line end.
    size_t end = std::strlen(text);
    while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == ' ')) --end;
    console_print("%.*s\n", static_cast<int>(end), text);
    LocalFree(text);
}

int com_port_number(const char* device) {
    while (is_c_letter(*device)) ++device;
    // As atoi reads it, but held to the range instead of overflowing (long
    // is as wide as int here).
    return static_cast<int>(std::strtol(device, nullptr, 10));
}

}  // namespace tolvane
