#include "win32/com_port.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "base/console.h"
#include "win32/modem.h"

namespace tolvane {

namespace {

BOOL write_file(HANDLE handle, const void* bytes, DWORD count, DWORD* written) {
    return WriteFile(handle, bytes, count, written, nullptr);
}

BOOL read_file(HANDLE handle, void* bytes, DWORD count, DWORD* got) {
    return ReadFile(handle, bytes, count, got, nullptr);
}

// The port aborts on a line error (a framing error, say) and takes no more
// reads or writes until the error is fetched.
BOOL clear_error(HANDLE handle) {
    DWORD errors;
    return ClearCommError(handle, &errors, nullptr);
}

// A failed read or write: a line error to fetch, or a device gone for good.
void after_failure(com_port* port) {
    if (!com_clear(port->handle)) port->gone = true;
}

bool is_c_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

void show_open_error(const char* port_name) {
    console_print("open %s: ", port_name);
    show_system_error();
}

}  // namespace

com_write_call com_write = write_file;
com_read_call com_read = read_file;
com_clear_call com_clear = clear_error;

const COMMTIMEOUTS com_timeouts = {
    MAXDWORD,  // ReadIntervalTimeout: with the two zeros, a read never waits
    0,         // ReadTotalTimeoutMultiplier
    0,         // ReadTotalTimeoutConstant
    1,         // WriteTotalTimeoutMultiplier
    1,         // WriteTotalTimeoutConstant
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

com_port* com_open(int number, long baud, int in_queue, int out_queue, bool quiet) {
    com_port* port = new (std::nothrow) com_port{};
    if (port == nullptr) return nullptr;
    char name[24];
    std::snprintf(name, sizeof name, "COM%d", number);
    // Only COM1..COM9 are known by their bare names; the device path reaches
    // every port.
    char path[32];
    std::snprintf(path, sizeof path, "\\\\.\\%s", name);
    port->dcb = com_settings(baud);
    modem_dcb_levels(&port->dcb);  // --dtr, --rts

    port->handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port->handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (!quiet) show_open_error(name);
        delete port;
        SetLastError(error);  // -w at start tells a port not there yet by it
        return nullptr;
    }
    if (!SetupComm(port->handle, static_cast<DWORD>(in_queue), static_cast<DWORD>(out_queue)) ||
        !SetCommState(port->handle, &port->dcb)) {
        if (!quiet) show_open_error(name);
        CloseHandle(port->handle);
        delete port;
        return nullptr;
    }
    COMMTIMEOUTS timeouts = com_timeouts;
    SetCommTimeouts(port->handle, &timeouts);
    com_set_modem_lines(port->handle, name);  // --dtr, --rts, --pulse
    port->in_cursor = port->in_buffer.data();
    return port;
}

void com_close(com_port* port) {
    if (port == nullptr) return;
    CloseHandle(port->handle);
    delete port;
}

int com_flush(com_port* port) {
    const int queued = port->out_count;
    if (queued == 0) return 0;
    port->out_count = 0;
    // A write may end early when its time is up; go on while it gets
    // somewhere, give up when it fails or moves nothing.
    int done = 0;
    while (done < queued) {
        DWORD written = 0;
        const BOOL ok = com_write(port->handle, port->out_buffer.data() + done,
                                  static_cast<DWORD>(queued - done), &written);
        if (written > static_cast<DWORD>(queued - done)) written = static_cast<DWORD>(queued - done);
        done += static_cast<int>(written);
        if (!ok) after_failure(port);
        if (!ok || written == 0) break;
    }
    return done == queued ? 0 : -1;
}

int com_putc(com_port* port, int byte) {
    port->out_buffer[port->out_count++] = static_cast<unsigned char>(byte);
    if (port->out_count >= COM_FLUSH_AT) return com_flush(port);
    return 0;
}

int com_getc(com_port* port) {
    // Whatever is queued goes out before we look for the answer to it.
    com_flush(port);
    if (port->in_count <= 0) {
        DWORD got = 0;
        if (!com_read(port->handle, port->in_buffer.data(), COM_BUFFER_SIZE, &got)) {
            after_failure(port);
            got = 0;
        }
        if (got > COM_BUFFER_SIZE) got = 0;
        if (got > 0) ++console_line_reads;
        port->in_cursor = port->in_buffer.data();
        port->in_count = static_cast<int>(got);
    }
    if (port->in_count <= 0) return -1;
    --port->in_count;
    return *port->in_cursor++;
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
    console_print("%s\n", text);
    LocalFree(text);
}

int com_port_number(const char* device) {
    while (is_c_letter(*device)) ++device;
    // As atoi reads it, but held to the range instead of overflowing (long
    // is as wide as int here).
    return static_cast<int>(std::strtol(device, nullptr, 10));
}

}  // namespace tolvane
