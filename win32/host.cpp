// The shared code's platform needs, met by a COM port (win32/line.h).
#include "base/console.h"
#include "base/host.h"
#include "base/settings.h"
#include "win32/line.h"

namespace tolvane {

std::string device_name = "COM1";
const char usage_example[] = "\n\n\texample: %s -c com1 -b 115200\n";

bool host_line_open(const char* device, long baud) { return line_open(device, baud); }

void host_line_close() { line_close(); }

size_t host_line_room() {
    if (line_port == nullptr || line_gone()) return COM_BUFFER_SIZE;
    // A byte may go doubled on a network line.
    return line_port->socket != INVALID_SOCKET ? com_room(line_port) / 2 : com_room(line_port);
}

bool host_line_wait_room(int ms) { return line_wait_room(ms); }

bool host_request_cut() { return line_request_cut(); }

void host_line_take_last_output() { line_take_last_output(); }

void host_end(int status, int ms) {
    console_flush();
    line_leave_within(ms);
    line_end_program(status);
}

}  // namespace tolvane
