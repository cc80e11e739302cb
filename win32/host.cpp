// The shared code's platform needs, met by a COM port.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "base/console.h"
#include "base/host.h"
#include "base/keys.h"
#include "base/session_log.h"
#include "base/settings.h"
#include "link/link.h"
#include "win32/console.h"
#include "win32/line.h"
#include "win32/wait_start.h"

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
    const int number = com_port_number(device);
    line_port = wait_for_line ? com_open_waiting(device, number, baud, COM_QUEUE_SIZE, COM_QUEUE_SIZE)
                              : com_open(number, baud, COM_QUEUE_SIZE, COM_QUEUE_SIZE);
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

bool taking_last_output = false;

bool host_request_cut() { return line_gone || (quit_requested() && !taking_last_output); }

void host_line_take_last_output() { taking_last_output = true; }

size_t host_line_room() {
    return line_port == nullptr ? COM_BUFFER_SIZE : static_cast<size_t>(COM_FLUSH_AT - 1 - line_port->out_count);
}

// Output leaves in one WriteFile when the buffer fills or input is read.
bool host_line_wait_room(int) {
    if (line_port) report_write_error(com_flush(line_port));
    return true;
}

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

void host_end(int status, int) {
    console_end();
    console_restore_input();
    host_line_close();
    std::fflush(stdout);
    std::exit(status);
}

void link_put_raw(int byte) {
    if (!host_request_cut()) report_write_error(com_putc(line_port, byte));
}

// Waits for the next byte. While the terminal runs, keys typed meanwhile
// go into the key queue; after Ctrl-Q, or while the line is gone (-w), the
// answer is ETX at once.
int link_get_raw() {
    int c;
    while ((c = line_gone ? -1 : com_getc(line_port)) < 0) {
        if (line_let_go_if_gone() || host_request_cut()) return BYTE_ETX;
        if (watch_keys_in_requests) console_read_keys();
        Sleep(0);
    }
    return c;
}

}  // namespace tolvane
