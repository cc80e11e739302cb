#include "win32/com_line.h"

#include <cstdio>
#include <cstdlib>

#include "base/console.h"
#include "base/frame.h"
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
// With XON/XOFF: the room left in the input queue that sends XOFF, and what
// it holds when XON follows.
constexpr WORD COM_XON_XOFF_LIMIT = COM_QUEUE_SIZE / 4;
constexpr char XON = 0x11;
constexpr char XOFF = 0x13;
// The slowest rate tolvane takes, on either system.
constexpr long COM_SPEED_MIN = 300;
// Beyond any port number Windows gives (255): no port, and no overflow.
constexpr long COM_PORT_MAX = 9999;

class com_line : public overlapped_line {
public:
    HANDLE handle = INVALID_HANDLE_VALUE;
    long baud = 0;
    std::string name;  // COM<n>, for what is said about it

    long speed() const override { return baud; }
    // The DCB as it is, with the new rate: the frame and the flow kept.
    bool set_speed(long new_baud) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (new_baud < COM_SPEED_MIN || !GetCommState(handle, &dcb)) return false;
        dcb.BaudRate = static_cast<DWORD>(new_baud);
        if (!SetCommState(handle, &dcb)) return false;
        baud = new_baud;
        return true;
    }

    // The DCB as it is, with the new frame and flow control: the old stay
    // when the driver did not take them all. RTS is the driver's with
    // RTS/CTS flow control, else held where it was set.
    bool set_frame(const line_settings& frame) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handle, &dcb)) return false;
        DCB before = dcb;
        com_set_frame(&dcb, frame);
        if (frame.flow != flow_kind::hard) dcb.fRtsControl = rts_on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
        DCB got = dcb;
        if (!SetCommState(handle, &dcb) || !GetCommState(handle, &got) || !com_frame_refused(frame, dcb, got).empty()) {
            SetCommState(handle, &before);
            return false;
        }
        rts_driven = frame.flow == flow_kind::hard;
        return true;
    }
    void purge(bool input, bool output) override {
        const DWORD what = (input ? DWORD{PURGE_RXCLEAR} : 0) | (output ? DWORD{PURGE_TXCLEAR} : 0);
        if (what != 0) PurgeComm(handle, what);
    }

    bool set_break(bool on) override { return (on ? SetCommBreak(handle) : ClearCommBreak(handle)) != 0; }
    bool set_modem_line(modem_line line, bool on) override {
        if (!com_set_modem_line(handle, line, on)) return false;
        (line == modem_line::dtr ? dtr_on : rts_on) = on;
        return true;
    }
    // The inputs as the driver has them; DTR and RTS as they were set
    // (through the DCB at the open, or since).
    void read_modem_lines(modem_state* state) override {
        state->known = MODEM_DTR | (rts_driven ? 0u : unsigned{MODEM_RTS});
        state->on = (dtr_on ? unsigned{MODEM_DTR} : 0u) | (rts_on && !rts_driven ? unsigned{MODEM_RTS} : 0u);
        DWORD status = 0;
        if (!GetCommModemStatus(handle, &status)) return;
        state->known |= MODEM_CTS | MODEM_DSR | MODEM_CD | MODEM_RI;
        const struct {
            DWORD flag;
            unsigned modem;
        } inputs[] = {{MS_CTS_ON, MODEM_CTS}, {MS_DSR_ON, MODEM_DSR}, {MS_RLSD_ON, MODEM_CD}, {MS_RING_ON, MODEM_RI}};
        for (const auto& input : inputs)
            if (status & input.flag) state->on |= input.modem;
    }

    // Set from the DCB the port was opened with; RTS is the driver's with
    // RTS/CTS flow control.
    bool rts_driven = false;
    bool dtr_on = false;
    bool rts_on = false;

protected:
    BOOL start_read_call(unsigned char* buffer, DWORD size, DWORD* got, OVERLAPPED* overlapped) override {
        // Exactly what the port holds, where it holds some: Wine ends a read
        // that got all it asked for at once, and asks its server about the
        // port's time-outs a second time for one that did not. (A line error
        // it clears is one the failed read would have cleared.)
        COMSTAT held{};
        DWORD errors = 0;
        if (ClearCommError(handle, &errors, &held) && held.cbInQue > 0 && held.cbInQue < size) size = held.cbInQue;
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
        console_error("%s", com_write_error(name.c_str(), GetLastError()).c_str());
        after_failure();
    }

    void close_device() override { CloseHandle(handle); }
    void purge_output() override { PurgeComm(handle, PURGE_TXABORT | PURGE_TXCLEAR); }
};

BYTE com_parity(parity_kind parity) {
    switch (parity) {
    case parity_kind::none: return NOPARITY;
    case parity_kind::odd: return ODDPARITY;
    case parity_kind::even: return EVENPARITY;
    case parity_kind::mark: return MARKPARITY;
    case parity_kind::space: return SPACEPARITY;
    }
    return NOPARITY;
}

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

void com_set_frame(DCB* dcb, const line_settings& line) {
    const bool hard = line.flow == flow_kind::hard;
    const bool soft = line.flow == flow_kind::soft;
    dcb->fOutxCtsFlow = hard;
    dcb->fTXContinueOnXoff = soft;
    dcb->fOutX = soft;
    dcb->fInX = soft;
    dcb->fRtsControl = hard ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    // XOFF once the port's input queue has this little room left, XON once
    // it holds no more than this.
    dcb->XonLim = soft ? COM_XON_XOFF_LIMIT : 0;
    dcb->XoffLim = soft ? COM_XON_XOFF_LIMIT : 0;
    dcb->ByteSize = static_cast<BYTE>(line.data_bits);
    dcb->Parity = com_parity(line.parity);
    dcb->StopBits = line.stop_bits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb->XonChar = soft ? XON : 0;
    dcb->XoffChar = soft ? XOFF : 0;
}

DCB com_settings(const line_settings& line) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = static_cast<DWORD>(line.baud);
    dcb.fBinary = 1;
    dcb.fParity = 0;  // parity is sent, not checked: a byte that came with an error is shown as it came
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;  // raised, as POSIX drivers do at open
    dcb.fDsrSensitivity = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fAbortOnError = 1;
    com_set_frame(&dcb, line);
    return dcb;
}

std::string com_frame_refused(const line_settings& line, const DCB& asked, const DCB& got) {
    if (got.ByteSize != asked.ByteSize) return frame_part_text(line, frame_part::data_bits);
    if (got.Parity != asked.Parity) return frame_part_text(line, frame_part::parity);
    if (got.StopBits != asked.StopBits) return frame_part_text(line, frame_part::stop_bits);
    if (got.fOutxCtsFlow != asked.fOutxCtsFlow || got.fOutX != asked.fOutX || got.fInX != asked.fInX)
        return frame_part_text(line, frame_part::flow);
    return "";
}

int com_port_number(const char* device) {
    // The device path a port is opened by, \\.\COM12 (either slash).
    const auto slash = [](char c) { return c == '\\' || c == '/'; };
    if (slash(device[0]) && slash(device[1]) && device[2] == '.' && slash(device[3])) device += 4;
    if (_strnicmp(device, "COM", 3) == 0) device += 3;
    const char* digits = device;
    long number = 0;
    for (; *device >= '0' && *device <= '9'; ++device) {
        number = number * 10 + (*device - '0');
        if (number > COM_PORT_MAX) return -1;
    }
    if (device == digits) return -1;
    if (*device == ':') ++device;
    return *device != '\0' ? -1 : static_cast<int>(number);
}

std::string com_not_a_port(const char* device) {
    return std::string("open ") + device + ": not a COM port (COM3, com3, 3 or \\\\.\\COM3)\n";
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
    const int number = com_port_number(settings.device.c_str());
    if (number < 0) {
        outcome->result = open_result::failed;
        outcome->message = com_not_a_port(settings.device.c_str());
        return nullptr;
    }
    char name[24];
    std::snprintf(name, sizeof name, "COM%d", number);
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
    DCB dcb = com_settings(settings);
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
    // Drivers take what they can, and say so only in what they read back.
    DCB got = dcb;
    const std::string refused = GetCommState(port->handle, &got) ? com_frame_refused(settings, dcb, got) : "";
    if (!refused.empty()) {
        CloseHandle(port->handle);
        delete port;
        outcome->result = open_result::failed;
        outcome->message = std::string(name) + ": " + refused + " not supported\n";
        return nullptr;
    }
    COMMTIMEOUTS timeouts = com_timeouts;
    SetCommTimeouts(port->handle, &timeouts);
    SetCommMask(port->handle, EV_RXCHAR);
    line_settings named = settings;
    named.device = name;  // "COM3: no modem lines"
    com_set_modem_lines(port->handle, named, first);  // --dtr, --rts, --pulse
    // With RTS/CTS flow control the driver drives RTS: its level is not ours to tell.
    port->rts_driven = dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    port->dtr_on = dcb.fDtrControl == DTR_CONTROL_ENABLE;
    port->rts_on = dcb.fRtsControl == RTS_CONTROL_ENABLE;
    // The pulse at the first open leaves its line off unless it is held on.
    if (first && settings.pulse_line == modem_line::dtr) port->dtr_on = settings.dtr == line_level::on;
    if (first && settings.pulse_line == modem_line::rts) port->rts_on = settings.rts == line_level::on;
    port->poll();  // the first read in flight
    outcome->result = open_result::opened;
    return port;
}

}  // namespace tolvane
