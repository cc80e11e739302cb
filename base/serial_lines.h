// The serial lines of this machine as the platform finds them
// (posix/serial_lines.cpp, win32/serial_lines.cpp), and a board picked among
// them by its USB ids: "usb:SERIAL" or "usb:VID:PID" follows the board from
// port to port, and is looked up again at every open.
#pragma once

#include <string>
#include <vector>

namespace tolvane {

struct serial_line {
    std::string name;   // what -c takes
    std::string about;  // the device behind it, its driver and maker; may be empty
    std::string path;   // what opens it: the name (under TOLVANE_TEST_ROOT in tests)
    std::string usb_ids;     // "0403:6001" on a USB device, else empty
    std::string usb_serial;  // its serial number, where it has one
};

// The lines found, in the order they are shown.
std::vector<serial_line> find_serial_lines();

// Names in the order people count them: ttyS2 before ttyS10, COM2 before
// COM10.
bool natural_less(const std::string& a, const std::string& b);

// True when device names a board by its USB ids ("usb:...").
bool is_usb_name(const std::string& device);
// Whether a line is the board a usb: name asks for: "usb:VID:PID" (four
// hex digits each, any case) by its ids, anything else by its serial.
bool usb_name_matches(const std::string& device, const serial_line& line);

enum class usb_found { one, none, several };
// The line a usb: name stands for now; with several, *path lists them all
// ("/dev/ttyUSB0, /dev/ttyUSB1"): the board must not be guessed.
usb_found find_usb_line(const std::string& device, const std::vector<serial_line>& lines, std::string* path);

}  // namespace tolvane
