#include "win32/com_line.h"

#include "base/line_transport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace tolvane {

// The frame and the flow control asked for, each as the DCB's fields; the
// rest of the DCB stays as every line needs it.
TEST(ComSettings, AreThoseTheLineNeeds) {
    struct Case {
        const char* what;
        int data_bits;
        parity_kind parity;
        int stop_bits;
        flow_kind flow;
        // The flag bits as one word: binary, CTS flow, DTR on, XON/XOFF,
        // the RTS control, abort on error.
        DWORD flags;
        BYTE byte_size, parity_code, stop_code;
        WORD xon_limit;
        char xon, xoff;
    } cases[] = {
        {"8N1, no flow control", 8, parity_kind::none, 1, flow_kind::none, 0x5011, 8, NOPARITY, ONESTOPBIT, 0, 0, 0},
        {"hard", 8, parity_kind::none, 1, flow_kind::hard, 0x6015, 8, NOPARITY, ONESTOPBIT, 0, 0, 0},
        {"soft", 8, parity_kind::none, 1, flow_kind::soft, 0x5391, 8, NOPARITY, ONESTOPBIT, 7500, 0x11, 0x13},
        {"7E2", 7, parity_kind::even, 2, flow_kind::none, 0x5011, 7, EVENPARITY, TWOSTOPBITS, 0, 0, 0},
        {"5O1", 5, parity_kind::odd, 1, flow_kind::none, 0x5011, 5, ODDPARITY, ONESTOPBIT, 0, 0, 0},
        {"6M1", 6, parity_kind::mark, 1, flow_kind::none, 0x5011, 6, MARKPARITY, ONESTOPBIT, 0, 0, 0},
        {"8S2", 8, parity_kind::space, 2, flow_kind::none, 0x5011, 8, SPACEPARITY, TWOSTOPBITS, 0, 0, 0},
    };
    for (const Case& c : cases) {
        line_settings line;
        line.baud = 57600;
        line.data_bits = c.data_bits;
        line.parity = c.parity;
        line.stop_bits = c.stop_bits;
        line.flow = c.flow;
        const DCB dcb = com_settings(line);
        EXPECT_EQ(dcb.DCBlength, 28u);
        EXPECT_EQ(dcb.BaudRate, 57600u);
        DWORD flags;
        std::memcpy(&flags, reinterpret_cast<const char*>(&dcb) + 8, sizeof flags);
        EXPECT_EQ(flags, c.flags) << c.what;
        EXPECT_EQ(dcb.XonLim, c.xon_limit) << c.what;
        EXPECT_EQ(dcb.XoffLim, c.xon_limit) << c.what;
        EXPECT_EQ(dcb.ByteSize, c.byte_size) << c.what;
        EXPECT_EQ(dcb.Parity, c.parity_code) << c.what;
        EXPECT_EQ(dcb.StopBits, c.stop_code) << c.what;
        EXPECT_EQ(dcb.XonChar, c.xon) << c.what;
        EXPECT_EQ(dcb.XoffChar, c.xoff) << c.what;
        EXPECT_EQ(dcb.ErrorChar | dcb.EofChar | dcb.EvtChar, 0) << c.what;
        EXPECT_EQ(com_frame_refused(line, dcb, dcb), "") << c.what;
    }

    EXPECT_EQ(com_timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(com_timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(com_timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(com_timeouts.WriteTotalTimeoutMultiplier, 0u) << "a write waits for the line, never drops";
    EXPECT_EQ(com_timeouts.WriteTotalTimeoutConstant, 0u);
}

// A driver that took less than asked shows it in the settings it reads
// back: the first part it left out is named.
TEST(ComSettings, WhatTheDriverLeftOutIsNamed) {
    line_settings line;
    line.data_bits = 7;
    line.parity = parity_kind::mark;
    line.stop_bits = 2;
    line.flow = flow_kind::hard;
    const DCB asked = com_settings(line);
    const struct {
        void (*change)(DCB*);
        const char* said;
    } cases[] = {
        {[](DCB* d) { d->ByteSize = 8; }, "7 data bits"},
        {[](DCB* d) { d->Parity = NOPARITY; }, "mark parity"},
        {[](DCB* d) { d->StopBits = ONESTOPBIT; }, "2 stop bits"},
        {[](DCB* d) { d->fOutxCtsFlow = 0; }, "hard flow control"},
        {[](DCB* d) { d->fRtsControl = RTS_CONTROL_ENABLE; }, ""},  // the RTS control is the driver's to keep
    };
    for (const auto& c : cases) {
        DCB got = asked;
        c.change(&got);
        EXPECT_EQ(com_frame_refused(line, asked, got), c.said);
    }
}

// A port's name and nothing else: a path, a word with a port's number in it
// or a number too long for a port is no port (-1).
TEST(ComPortNumber, TakesOnlyAPortsName) {
    const struct {
        const char* name;
        int number;
    } cases[] = {
        {"com1", 1},          {"COM1", 1},          {"1", 1},        {"COM12", 12},         {"COM5:", 5},
        {"com0", 0},          {"\\\\.\\COM5", 5},   {"//./com12", 12}, {"\\\\.\\COM7:", 7}, {"COM255", 255},
        {"/dev/ttyS0", -1},   {"C:\\x", -1},       {"COM", -1},     {"COM:", -1},          {"COM 7", -1},
        {"com-3", -1},        {"COM4x2", -1},       {"COM5::", -1},  {"", -1},              {"COM99999999999", -1},
        {"\\\\?\\COM5", -1}, {"LPT1", -1},
    };
    for (const auto& c : cases) EXPECT_EQ(com_port_number(c.name), c.number) << c.name;
}

TEST(ComOpen, NamesThePortAndTheSystemsReasonWhenItCannot) {
    line_settings settings;
    settings.device = "COM0";  // no such port
    open_outcome outcome;
    EXPECT_EQ(device_transport_open(settings, true, &outcome), nullptr);
    const std::string out = outcome.message;
    EXPECT_EQ(out.rfind("open COM0: ", 0), 0u) << out;
    EXPECT_GT(out.size(), std::strlen("open COM0: \n")) << "the system's text: " << out;
    EXPECT_EQ(out.find('\n'), out.size() - 1) << "the system's own line end is not doubled: " << out;
    const size_t cr = out.find('\r');
    EXPECT_TRUE(cr == std::string::npos || cr == out.size() - 2) << "at most the run-time's own CR: " << out;
}

// Below 300 Baud the port is not opened at all, as in tolvane; from 300
// on the rate goes to the driver (here no port 0 opens).
TEST(ComOpen, RatesBelow300AreRefusedBeforeTheOpen) {
    const struct {
        long baud;
        const char* said;
        bool refused;  // for good: -w does not wait for it
    } cases[] = {
        {299, "299 Baud not supported\n", true}, {0, "0 Baud not supported\n", true},
        {-9600, "-9600 Baud not supported\n", true}, {300, "open COM0: ", false}, {115200, "open COM0: ", false},
    };
    for (const auto& c : cases) {
        line_settings settings;
        settings.device = "COM0";
        settings.baud = c.baud;
        open_outcome outcome;
        EXPECT_EQ(device_transport_open(settings, true, &outcome), nullptr);
        if (c.refused) {
            EXPECT_EQ(outcome.result, open_result::failed) << c.baud;
        }
        EXPECT_EQ(outcome.message.rfind(c.said, 0), 0u) << outcome.message;
    }
}

// A name that is no port's is refused by that name, for good (-w does not
// wait for it), before any open.
TEST(ComOpen, ANameThatIsNoPortIsRefusedByName) {
    for (const char* device : {"/dev/ttyS4", "C:\\x"}) {
        line_settings settings;
        settings.device = device;
        open_outcome outcome;
        EXPECT_EQ(device_transport_open(settings, true, &outcome), nullptr);
        EXPECT_EQ(outcome.result, open_result::failed) << device;
        EXPECT_EQ(outcome.message, std::string("open ") + device + ": not a COM port (COM3, com3, 3 or \\\\.\\COM3)\n");
    }
}

TEST(ComWrite, AFailureNamesThePortAndTheSystemsReason) {
    const std::string out = com_write_error("COM7", ERROR_GEN_FAILURE);
    EXPECT_EQ(out.rfind("write: COM7: ", 0), 0u) << out;
    EXPECT_GT(out.size(), std::strlen("write: COM7: \n")) << "the system's text: " << out;
    EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
}

// Windows refuses a second open of a port (Wine does not: it lets two
// programs share a serial device).
TEST(ComOpen, APortAnotherProgramHoldsIsSaidSo) {
    const std::string out = com_open_error("COM3", ERROR_ACCESS_DENIED);
    EXPECT_EQ(out.substr(0, out.find_first_of("\r\n")), "open: COM3: line in use by another program");
}

}  // namespace tolvane
