// The USB ids in the instance ids Windows gives a port's device.
#include "win32/serial_lines.h"

#include <gtest/gtest.h>

namespace tolvane {

TEST(WinUsbIds, FromTheInstanceId) {
    struct Case {
        std::string id;
        std::string ids;
        std::string serial;
    } cases[] = {
        {"USB\\VID_0403&PID_6001\\A50285BI", "0403:6001", "A50285BI"},
        {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "0403:6001", "A50285BI"},
        {"USB\\VID_2E8A&PID_000A\\E6614103E7", "2e8a:000a", "E6614103E7"},
        // One interface of a composite device: the serial is its parent's.
        {"USB\\VID_2E8A&PID_000A&MI_00\\6&2C4F12A&0&0000", "2e8a:000a", ""},
        {"ACPI\\PNP0501\\1", "", ""},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        std::string ids = "x", serial = "x";
        usb_ids_from_instance_id(c.id, &ids, &serial);
        EXPECT_EQ(ids, c.ids) << c.id;
        EXPECT_EQ(serial, c.serial) << c.id;
    }
}

}  // namespace tolvane
