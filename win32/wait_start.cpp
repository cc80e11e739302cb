#include "win32/wait_start.h"

#include <chrono>

#include "base/console.h"
#include "base/host.h"
#include "base/keys.h"
#include "base/settings.h"
#include "win32/console.h"
#include "win32/line.h"

namespace tolvane {

namespace {

// How often the port is looked for.
constexpr int LOOK_MS = 250;

bool port_absent() { return GetLastError() == ERROR_FILE_NOT_FOUND; }

// LOOK_MS with the keyboard watched for Ctrl-Q; other keys have no line
// to go to yet.
void watch_keyboard_a_while() {
    using clock = std::chrono::steady_clock;
    const clock::time_point until = clock::now() + std::chrono::milliseconds(LOOK_MS);
    for (clock::time_point now = clock::now(); now < until; now = clock::now()) {
        line_wait(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()) + 1);
        keys_clear();
        if (quit_requested()) host_end(0, 0);
    }
}

}  // namespace

com_port* wait_for_line_at_start(const char* device, int number, long baud, int in_queue, int out_queue) {
    if (!wait_for_line) return com_open(number, baud, in_queue, out_queue);
    com_port* port = com_open(number, baud, in_queue, out_queue, true);
    if (port != nullptr) return port;
    // Opened once more, aloud, for the message of a port that is there
    // but cannot be used.
    if (!port_absent()) return com_open(number, baud, in_queue, out_queue);

    console_print("waiting for %s (Ctrl-Q ends)\n", device);
    console_take_input();
    line_watch_keyboard(true);
    for (;;) {
        watch_keyboard_a_while();
        port = com_open(number, baud, in_queue, out_queue, true);
        if (port != nullptr || !port_absent()) break;
    }
    line_watch_keyboard(false);
    console_restore_input();
    return port != nullptr ? port : com_open(number, baud, in_queue, out_queue);
}

}  // namespace tolvane
