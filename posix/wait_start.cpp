// -w at start: a board that is not plugged in yet is waited for, as one
// that goes away later is.
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "base/console.h"
#include "base/keys.h"
#include "posix/console.h"
#include "posix/port.h"
#include "posix/stop.h"

namespace tolvane {

namespace {

using clock = std::chrono::steady_clock;

// How often the device is looked for.
constexpr int LOOK_MS = 250;
// A node that has just appeared may be root's alone for a moment, until
// udev gives it its group: so long it is looked at again.
constexpr auto ACCESS_GRACE = std::chrono::seconds(2);

// What open answers for a device that is not there, or is going away.
bool device_absent(int error) { return error == ENOENT || error == ENODEV || error == ENXIO || error == EIO; }

bool access_denied(int error) { return error == EACCES || error == EPERM; }

// One look's sleep, with the keyboard read for Ctrl-Q (other keys have no
// line to go to yet) and signals seen.
void sleep_one_look() {
    console_flush();
    pollfd fds[2] = {{console_keyboard_fd(), POLLIN, 0}, {stop_signal_fd(), POLLIN, 0}};
    const int n = poll(fds, 2, LOOK_MS);
    stop_if_signalled();
    if (n > 0 && fds[0].revents) console_read_keys();
    keys_clear();
}

int refuse(const char* device, int error) {
    console_print("open: %s: %s\n", device, std::strerror(error));
    return 0;
}

}  // namespace

int port_open_waiting(const char* device, long baud) {
    int error;
    open_outcome got = port_open_if_there(device, baud, &error, report_open_failure::never);
    if (got != open_outcome::not_opened) return got == open_outcome::opened;
    if (!device_absent(error)) return refuse(device, error);

    console_print("waiting for %s (Ctrl-Q ends)\n", device);
    // Raw, so that Ctrl-Q is a key; the console's settings come back on
    // every way out.
    console_enter_raw();
    clock::time_point denied_since{};
    for (;;) {
        sleep_one_look();
        if (quit_requested()) stop_now(0);
        got = port_open_if_there(device, baud, &error, report_open_failure::never);
        if (got != open_outcome::not_opened) break;
        if (device_absent(error)) {
            denied_since = {};
            continue;
        }
        if (access_denied(error)) {
            if (denied_since == clock::time_point{}) denied_since = clock::now();
            if (clock::now() - denied_since < ACCESS_GRACE) continue;
        }
        console_leave_raw();
        return refuse(device, error);
    }
    console_leave_raw();
    return got == open_outcome::opened;
}

}  // namespace tolvane
