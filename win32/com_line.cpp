#include "win32/com_line.h"

#include <cstdio>
#include <cstdlib>

#include "base/console.h"
#include "win32/modem.h"
#include "win32/overlapped_line.h"

namespace tolvane {

namespace {

// Reads in a row that fail with the port still answering ClearCommError:
// past this many the device is taken as gone (a pty whose other end closed
// answers every read with an error).
constexpr int FAILURES_BEFORE_GONE = 8;
// Empty reads in a row after which WaitCommEvent is no longer trusted.
constexpr int EMPTY_TURNS_BEFORE_LOOKING = 3;
// The port's own queues.
constexpr DWORD COM_QUEUE_SIZE = 30000;
// The slowest rate tolvane takes, on either system.
constexpr long COM_SPEED_MIN = 300;

class com_line : public overlapped_line {
public:
    HANDLE handle = INVALID_HANDLE_VALUE;
    long baud = 0;
    std::string name;  // COM<n>, for what is said about it

    long speed() const override { return baud; }

protected:
    BOOL start_read_call(unsigned char* buffer, DWORD size, DWORD* got, OVERLAPPED* overlapped) override {
        return ReadFile(handle, buffer, size, got, overlapped);
    }
    BOOL start_write_call(const unsigned char* bytes, DWORD count, DWORD* written, OVERLAPPED* overlapped) override {
        return WriteFile(handle, bytes, count, written, overlapped);
    }
    BOOL result_call(OVERLAPPED* overlapped, DWORD* count) override {
        return GetOverlappedResult(handle, overlapped, count, FALSE);
    }
    HANDLE io_handle() const override { return handle; }

    // Where a read returns at once with nothing (real ports under these
    // time-outs), the next byte is waited for with WaitCommEvent.
    void took(DWORD got) override {
        if (got > 0 && got <= in_buffer.size()) {
            keep_received(got);
            return;
        }
        ++empty_turns;
        if (empty_turns >= EMPTY_TURNS_BEFORE_LOOKING) return;
        DWORD started = WaitCommEvent(handle, &event_mask, &event_op.overlapped);
        if (!started && GetLastError() == ERROR_IO_PENDING) {
            event_op.in_flight = true;
            return;
        }
        if (!started) empty_turns = EMPTY_TURNS_BEFORE_LOOKING;  // no events here: look now and then
    }

    // The port aborts on a line error and takes nothing more until it is
    // fetched; a device gone for good answers no more.
    void after_failure() override {
        DWORD errors;
        if (!ClearCommError(handle, &errors, nullptr) || ++failures >= FAILURES_BEFORE_GONE) set_gone();
    }

    void write_failed() override {
        console_print("%s", com_write_error(name.c_str(), GetLastError()).c_str());
        after_failure();
    }

    void close_device() override { CloseHandle(handle); }
    void purge_output() override { PurgeComm(handle, PURGE_TXABORT | PURGE_TXCLEAR); }
};

bool is_c_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

line_transport* refuse(open_outcome* outcome, DWORD error, const char* name) {
    outcome->result = error == ERROR_FILE_NOT_FOUND ? open_result::absent : open_result::failed;
    outcome->message = com_open_error(name, error);
    return nullptr;
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

int com_port_number(const char* device) {
    // The device path a port is opened by, \\.\COM12 (either slash).
    const auto slash = [](char c) { return c == '\\' || c == '/'; };
    if (slash(device[0]) && slash(device[1]) && device[2] == '.' && slash(device[3])) device += 4;
    while (is_c_letter(*device)) ++device;
    // As atoi reads it, but held to the range instead of overflowing (long
    // is as wide as int here).
    return static_cast<int>(std::strtol(device, nullptr, 10));
}

std::string com_open_error(const char* port_name, DWORD error) {
    // Opened without sharing: another program's handle shows as this.
    if (error == ERROR_ACCESS_DENIED) return std::string("open: ") + port_name + ": line in use by another program\n";
    return std::string("open ") + port_name + ": " + system_error_text(error) + "\n";
}

std::string com_write_error(const char* port_name, DWORD error) {
    return std::string("write: ") + port_name + ": " + system_error_text(error) + "\n";
}

line_transport* device_transport_open(const line_settings& settings, bool first, open_outcome* outcome) {
    if (settings.baud < COM_SPEED_MIN) {
        outcome->result = open_result::failed;
        outcome->message = std::to_string(settings.baud) + " Baud not supported\n";
        return nullptr;
    }
    char name[24];
    std::snprintf(name, sizeof name, "COM%d", com_port_number(settings.device.c_str()));
    // Only COM1..COM9 are known by their bare names; the device path reaches
    // every port.
    char path[32];
    std::snprintf(path, sizeof path, "\\\\.\\%s", name);
    com_line* port = new com_line;
    if (!port->made()) {
        delete port;
        return refuse(outcome, GetLastError(), name);
    }
    port->baud = settings.baud;
    port->name = name;
    DCB dcb = com_settings(settings.baud);
    modem_dcb_levels(&dcb, settings);  // --dtr, --rts

    port->handle =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port->handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        delete port;
        return refuse(outcome, error, name);
    }
    if (!SetupComm(port->handle, COM_QUEUE_SIZE, COM_QUEUE_SIZE) || !SetCommState(port->handle, &dcb)) {
        const DWORD error = GetLastError();
        CloseHandle(port->handle);
        delete port;
        outcome->result = open_result::failed;
        outcome->message = com_open_error(name, error);
        return nullptr;
    }
    COMMTIMEOUTS timeouts = com_timeouts;
    SetCommTimeouts(port->handle, &timeouts);
    SetCommMask(port->handle, EV_RXCHAR);
    line_settings named = settings;
    named.device = name;  // "COM3: no modem lines"
    com_set_modem_lines(port->handle, named, first);  // --dtr, --rts, --pulse
    port->poll();  // the first read in flight
    outcome->result = open_result::opened;
    return port;
}

}  // namespace tolvane
