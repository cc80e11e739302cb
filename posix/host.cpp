// The entry's platform needs, met by a tty device.
#include "app/host.h"
#include "app/settings.h"
#include "posix/port.h"
#include "posix/stop.h"
#include "terminal/console.h"

namespace tolvane {

std::string device_name = "/dev/ttyS0";
const char usage_example[] = "\n\n\texample: %s -c /dev/ttyS1 -b 115200\n";

bool host_line_open(const char* device, long baud) {
    stop_watch_signals();
    return port_open(device, baud) == 1;
}

void host_line_close() { port_close(); }

bool host_line_gone() { return port_gone(); }

void host_quit() {
    console_flush();
    stop_now(0);
}

}  // namespace tolvane
