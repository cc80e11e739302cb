// How Windows names a USB device in its instance id, read into the ids
// and serial number that base/serial_lines.h matches a usb: name against.
#pragma once

#include <string>

#include "base/serial_lines.h"

namespace tolvane {

// "USB\VID_0403&PID_6001\A50285BI" -> "0403:6001", "A50285BI"; FTDI's own
// driver's "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000" the same. Both
// empty when the id names no USB device; the serial empty when Windows
// made the last part up (a device without a serial number).
void usb_ids_from_instance_id(const std::string& id, std::string* ids, std::string* serial);

}  // namespace tolvane
