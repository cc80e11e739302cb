// The entry's platform needs, met by a COM port.
#include <windows.h>

#include <cstdio>

#include "app/host.h"
#include "app/settings.h"
#include "link/link.h"
#include "win32/line.h"

namespace tolvane {

namespace {

constexpr int COM_QUEUE_SIZE = 30000;

void report_write_error(int result) {
    if (result == -1) std::printf("COM write error\n");
}

}  // namespace

char device_name[DEVICE_NAME_SIZE] = "COM1";
const char usage_example[] = "\n\n\texample: %s -c com1 -b 115200\n";

com_port* line_port = nullptr;

bool host_line_open(const char* device, long baud) {
    line_port = com_open(com_port_number(device), baud, COM_QUEUE_SIZE, COM_QUEUE_SIZE);
    return line_port != nullptr;
}

void host_line_close() {
    // With -q nothing reads, so the reset and the command words may still
    // wait in the buffer.
    report_write_error(com_flush(line_port));
    com_close(line_port);
    line_port = nullptr;
}

void link_put_raw(int byte) { report_write_error(com_putc(line_port, byte)); }

int link_get_raw() {
    int c;
    while ((c = com_getc(line_port)) < 0) Sleep(0);
    return c;
}

}  // namespace tolvane
