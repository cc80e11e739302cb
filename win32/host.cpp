// The entry's platform needs, met by a COM port.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "app/host.h"
#include "app/settings.h"
#include "link/link.h"
#include "terminal/console.h"
#include "terminal/rules.h"
#include "terminal/session_log.h"
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
bool wait_when_gone = false;
bool line_gone = false;

bool host_line_open(const char* device, long baud) {
    line_port = com_open(com_port_number(device), baud, COM_QUEUE_SIZE, COM_QUEUE_SIZE);
    return line_port != nullptr;
}

void host_line_close() {
    if (line_port == nullptr) return;  // it went away and did not come back
    // With -q nothing reads, so the reset and the command words may still
    // wait in the buffer.
    report_write_error(com_flush(line_port));
    com_close(line_port);
    line_port = nullptr;
}

bool host_line_gone() { return line_gone; }

bool line_let_go_if_gone() {
    if (line_gone || line_port == nullptr || !line_port->gone || !wait_when_gone) return line_gone;
    console_start_line();
    session_log_note("line lost");
    console_print("read: %s: line closed\n", device_name.c_str());
    console_print("waiting for %s (Ctrl-Q ends)\n", device_name.c_str());
    com_close(line_port);
    line_port = nullptr;
    line_gone = true;
    return true;
}

bool line_reopen() {
    line_port = com_open(com_port_number(device_name.c_str()), baud_rate, COM_QUEUE_SIZE, COM_QUEUE_SIZE, true);
    if (line_port == nullptr) return false;
    line_gone = false;
    console_print("%s back\n", device_name.c_str());
    session_log_note("line back");
    return true;
}

void host_quit() {
    console_restore_input();
    host_line_close();
    std::fflush(stdout);
    std::exit(0);
}

void link_put_raw(int byte) {
    if (!line_gone) report_write_error(com_putc(line_port, byte));
}

// Waits for the next byte. While the terminal runs, keys typed meanwhile
// are kept for it, and Ctrl-Q ends the program even in a request. While
// the line is gone (-w) the answer is ETX at once.
int link_get_raw() {
    int c;
    while ((c = line_gone ? -1 : com_getc(line_port)) < 0) {
        if (line_let_go_if_gone()) return BYTE_ETX;
        const int key = watch_keys_in_requests ? console_key() : -1;
        if (key == KEY_QUIT) term_quit();
        if (key >= 0) term_keep_key(key);
        Sleep(0);
    }
    return c;
}

}  // namespace tolvane
