#include "win32/com_line.h"

#include "base/line_transport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace tolvane {

TEST(ComSettings, AreThoseTheLineNeeds) {
    const DCB dcb = com_settings(57600);
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, 57600u);
    // The flag bits as one word: binary, CTS flow, RTS on, abort on error.
    DWORD flags;
    std::memcpy(&flags, reinterpret_cast<const char*>(&dcb) + 8, sizeof flags);
    EXPECT_EQ(flags, 0x5005u);
    EXPECT_EQ(dcb.XonLim, 0);
    EXPECT_EQ(dcb.XoffLim, 0);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.XonChar | dcb.XoffChar | dcb.ErrorChar | dcb.EofChar | dcb.EvtChar, 0);

    EXPECT_EQ(com_timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(com_timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(com_timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(com_timeouts.WriteTotalTimeoutMultiplier, 0u) << "a write waits for the line, never drops";
    EXPECT_EQ(com_timeouts.WriteTotalTimeoutConstant, 0u);
}

TEST(ComPortNumber, SkipsLettersThenReadsTheNumber) {
    EXPECT_EQ(com_port_number("com1"), 1);
    EXPECT_EQ(com_port_number("COM1"), 1);
    EXPECT_EQ(com_port_number("1"), 1);
    EXPECT_EQ(com_port_number("COM12"), 12);
    EXPECT_EQ(com_port_number("/dev/ttyS0"), 0);
    EXPECT_EQ(com_port_number("COM"), 0);
    EXPECT_EQ(com_port_number("COM 7"), 7);
    EXPECT_EQ(com_port_number("com-3"), -3);
    EXPECT_EQ(com_port_number("COM4x2"), 4);
    // The device path, as Windows names ports above COM9.
    EXPECT_EQ(com_port_number("\\\\.\\COM5"), 5);
    EXPECT_EQ(com_port_number("//./com12"), 12);
    EXPECT_EQ(com_port_number("\\\\?\\COM5"), 0) << "only the device path's own prefix";
}

TEST(ComOpen, NamesThePortAndTheSystemsReasonWhenItCannot) {
    line_settings settings;
    settings.device = "/dev/ttyS0";  // port number 0
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
        settings.device = "/dev/ttyS0";
        settings.baud = c.baud;
        open_outcome outcome;
        EXPECT_EQ(device_transport_open(settings, true, &outcome), nullptr);
        if (c.refused) {
            EXPECT_EQ(outcome.result, open_result::failed) << c.baud;
        }
        EXPECT_EQ(outcome.message.rfind(c.said, 0), 0u) << outcome.message;
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
