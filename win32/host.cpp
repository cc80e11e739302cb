// The entry's platform needs, met by a COM port.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "app/host.h"
#include "app/settings.h"
#include "link/link.h"
#include "terminal/console.h"
#include "terminal/rules.h"
#include "win32/line.h"

namespace tolvane {

namespace {

constexpr int COM_QUEUE_SIZE = 30000;

void report_write_error(int result) {
    if (result == -1) console_print("COM write error\n");
}

}  // namespace

std::string device_name = "COM1";
const char usage_example[] = "\n\n\texample: %s -c com1 -b 115200\n";

com_port* line_port = nullptr;
bool watch_keys_in_requests = false;

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

void host_quit() {
    console_restore_input();
    host_line_close();
    std::fflush(stdout);
    std::exit(0);
}

void link_put_raw(int byte) { report_write_error(com_putc(line_port, byte)); }

// Waits for the next byte. While the terminal runs, keys typed meanwhile
// are kept for it, and Ctrl-Q ends the program even in a request.
int link_get_raw() {
    int c;
    while ((c = com_getc(line_port)) < 0) {
        const int key = watch_keys_in_requests ? console_key() : -1;
        if (key == KEY_QUIT) term_quit();
        if (key >= 0) term_keep_key(key);
        Sleep(0);
    }
    return c;
}

}  // namespace tolvane
