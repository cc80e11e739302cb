// A board picked by its USB ids among the lines found: by serial number or
// by vendor and product, never a guess among several.
#include "base/serial_lines.h"

#include <gtest/gtest.h>

namespace tolvane {

TEST(UsbName, PicksTheBoardByItsIds) {
    const std::vector<serial_line> lines = {
        {"/dev/serial/by-id/usb-FTDI_A50285BI", "-> /dev/ttyUSB0", "/r/dev/serial/by-id/usb-FTDI_A50285BI", "", ""},
        {"/dev/ttyACM0", "cdc_acm", "/r/dev/ttyACM0", "2e8a:000a", ""},
        {"/dev/ttyS0", "serial", "/r/dev/ttyS0", "", ""},
        {"/dev/ttyUSB0", "ftdi_sio", "/r/dev/ttyUSB0", "0403:6001", "A50285BI"},
        {"/dev/ttyUSB1", "ftdi_sio", "/r/dev/ttyUSB1", "0403:6001", "FT9Q2X"},
    };
    struct Case {
        std::string name;
        usb_found found;
        std::string path;
    } cases[] = {
        {"usb:A50285BI", usb_found::one, "/r/dev/ttyUSB0"},
        {"USB:FT9Q2X", usb_found::one, "/r/dev/ttyUSB1"},
        {"usb:2E8A:000A", usb_found::one, "/r/dev/ttyACM0"},
        {"usb:0403:6001", usb_found::several, "/dev/ttyUSB0, /dev/ttyUSB1"},
        {"usb:a50285bi", usb_found::none, ""},  // serial numbers keep their case
        {"usb:0403:6010", usb_found::none, ""},
        {"usb:", usb_found::none, ""},           // a line without a serial is not ""
        {"/dev/ttyUSB0", usb_found::none, ""},   // no usb: name at all
    };
    for (const Case& c : cases) {
        std::string path = "left over";
        EXPECT_EQ(find_usb_line(c.name, lines, &path), c.found) << c.name;
        EXPECT_EQ(path, c.path) << c.name;
    }
    EXPECT_TRUE(is_usb_name("Usb:x"));
    EXPECT_FALSE(is_usb_name("/dev/usb:x"));
}

}  // namespace tolvane
