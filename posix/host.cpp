// The shared code's platform needs, met by a tty device.
#include "base/console.h"
#include "base/host.h"
#include "base/settings.h"
#include "posix/port.h"
#include "posix/stop.h"

namespace tolvane {

std::string device_name = "/dev/ttyS0";
const char usage_example[] = "\n\n\texample: %s -c /dev/ttyS1 -b 115200\n";

bool host_line_open(const char* device, long baud) {
    stop_watch_signals();
    if ((wait_for_line ? port_open_waiting(device, baud) : port_open(device, baud)) != 1) return false;
    baud_rate = port_speed();  // the banner shows the rate in force
    return true;
}

void host_line_close() { port_close(); }

size_t host_line_room() { return port_room(); }

bool host_line_wait_room(int ms) { return port_wait_room(ms); }

bool host_request_cut() { return port_request_cut(); }

void host_line_take_last_output() { port_take_last_output(); }

void host_end(int status, int ms) {
    console_flush();
    port_leave_within(ms);
    stop_now(status);
}

}  // namespace tolvane
