#include "win32/wait_start.h"

#include "base/console.h"
#include "base/host.h"
#include "base/keys.h"
#include "win32/console.h"

namespace tolvane {

namespace {

// How often the port is looked for, and the keyboard meanwhile.
constexpr int LOOK_MS = 250;
constexpr int KEYS_MS = 10;

bool port_absent() { return GetLastError() == ERROR_FILE_NOT_FOUND; }

}  // namespace

com_port* com_open_waiting(const char* device, int number, long baud, int in_queue, int out_queue) {
    com_port* port = com_open(number, baud, in_queue, out_queue, true);
    if (port != nullptr) return port;
    // Opened once more, aloud, for the message of a port that is there
    // but cannot be used.
    if (!port_absent()) return com_open(number, baud, in_queue, out_queue);

    console_print("waiting for %s (Ctrl-Q ends)\n", device);
    console_take_input();
    for (;;) {
        for (int waited = 0; waited < LOOK_MS; waited += KEYS_MS) {
            console_read_keys();
            keys_clear();  // no line to go to yet
            if (quit_requested()) host_end(0, 0);
            Sleep(KEYS_MS);
        }
        port = com_open(number, baud, in_queue, out_queue, true);
        if (port != nullptr || !port_absent()) break;
    }
    console_restore_input();
    return port != nullptr ? port : com_open(number, baud, in_queue, out_queue);
}

}  // namespace tolvane
