// The entry's platform needs, met by a tty device.
#include "app/host.h"
#include "app/settings.h"
#include "posix/port.h"
#include "posix/stop.h"

namespace tolvane {

char device_name[DEVICE_NAME_SIZE] = "/dev/ttyS0";
const char usage_example[] = "\n\n\texample: %s -c /dev/ttyS1 -b 115200\n";

bool host_line_open(const char* device, long baud) {
    stop_watch_signals();
    return port_open(device, baud) == 1;
}

void host_line_close() { port_close(); }

}  // namespace tolvane
