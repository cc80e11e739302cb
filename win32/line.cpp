#include "win32/line.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/console.h"
#include "base/keys.h"
#include "base/session_log.h"
#include "base/time_limit.h"
#include "link/link.h"
#include "win32/console.h"
#include "win32/net.h"
#include "win32/wait_start.h"

namespace tolvane {

com_port* line_port = nullptr;

namespace {

using clock = std::chrono::steady_clock;

constexpr int COM_QUEUE_SIZE = 30000;
// A line that takes nothing for this long on a way out gets no more.
constexpr int LAST_OUTPUT_PATIENCE_MS = 500;

std::string line_name;
long line_baud = 115200;
bool keyboard_watched = false;
bool wait_when_gone = false;
bool gone = false;
bool taking_last_output = false;

int ms_until(clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// The port went away: with -w it is let go and waited for (reads answer
// ETX at once and writes are dropped until it is back); otherwise the
// program ends.
void after_port_gone() {
    console_start_line();
    session_log_note("line lost");
    console_print("read: %s: line closed\n", line_name.c_str());
    if (!wait_when_gone) line_end_program(-1);
    console_print("waiting for %s (Ctrl-Q ends)\n", line_name.c_str());
    com_close(line_port);
    line_port = nullptr;
    gone = true;
}

// Sleeps until one of handles is signalled or timeout_ms passed (-1: no
// end, never with no handle); the port's own look-again time counts.
void sleep_on(HANDLE* handles, int n, int timeout_ms) {
    const int look = line_port ? com_wait_ms(line_port) : -1;
    if (look >= 0 && (timeout_ms < 0 || look < timeout_ms)) timeout_ms = look;
    if (n == 0 && timeout_ms < 0) return;
    if (n == 0)
        Sleep(static_cast<DWORD>(timeout_ms));
    else
        WaitForMultipleObjects(static_cast<DWORD>(n), handles, FALSE,
                               timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
}

void poll_port() {
    if (line_port == nullptr) return;
    com_poll(line_port);
    if (line_port->gone) after_port_gone();
}

// Waits on the port's operations only (the ways out), at most ms; true
// when all output has left.
bool output_left_within(int ms) {
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (line_port == nullptr || line_port->gone) return true;
        com_poll(line_port);
        if (com_pending(line_port) == 0) return true;
        const int left = ms_until(deadline);
        if (left == 0) return false;
        HANDLE handles[3];
        sleep_on(handles, com_wait_handles(line_port, handles), left);
    }
}

}  // namespace

bool line_open(const char* device, long baud) {
    line_name = device;
    line_baud = baud;
    line_port = net_is_url(device) ? net_line_open(device, baud, false)
                                   : wait_for_line_at_start(device, com_port_number(device), baud, COM_QUEUE_SIZE,
                                                            COM_QUEUE_SIZE);
    if (line_port == nullptr) return false;
    gone = false;
    com_poll(line_port);  // the first read in flight
    return true;
}

void line_close() {
    if (line_port == nullptr) return;  // it went away and did not come back
    // With -q nothing reads, so the reset and the command words may still
    // wait: they get the time they take at the line's speed, and some.
    const long bits = static_cast<long>(com_pending(line_port)) * 10 * 1000;
    if (!output_left_within(LAST_OUTPUT_PATIENCE_MS + static_cast<int>(bits / (line_baud > 0 ? line_baud : 1))))
        com_drop_output(line_port);
    com_close(line_port);
    line_port = nullptr;
}

void line_wait(int ms) {
    console_flush();  // what the target said so far shows while we wait
    // What the caller may be waiting for; when a look without sleeping
    // already changed it, the caller gets it at once.
    const size_t buffered = line_buffered();
    const size_t pending = line_port ? com_pending(line_port) : 0;
    const size_t keys = keys_queued();
    const bool quit = quit_requested();
    const bool had_port = line_port != nullptr;
    const auto news = [&] {
        return line_buffered() > buffered || (line_port ? com_pending(line_port) : 0) < pending ||
               keys_queued() != keys || quit_requested() != quit || (had_port && line_port == nullptr);
    };
    poll_port();
    const bool watch_keys = keyboard_watched && console_keys_wanted();
    if (watch_keys) console_read_keys();
    if (news()) return;

    HANDLE handles[5];
    int n = line_port ? com_wait_handles(line_port, handles) : 0;
    if (watch_keys) n += console_wait_handles(handles + n);
    sleep_on(handles, n, time_limit_wait_ms(ms));
    if (watch_keys) console_read_keys();
    poll_port();
}

void line_watch_keyboard(bool watch) { keyboard_watched = watch; }

size_t line_buffered() { return line_port == nullptr ? 0 : com_buffered(line_port); }

void line_wait_when_gone(bool wait) { wait_when_gone = wait; }

bool line_gone() { return gone; }

bool line_reopen() {
    line_port = net_is_url(line_name.c_str())
                    ? net_line_open(line_name.c_str(), line_baud, true)
                    : com_open(com_port_number(line_name.c_str()), line_baud, COM_QUEUE_SIZE, COM_QUEUE_SIZE, true);
    if (line_port == nullptr) return false;
    gone = false;
    com_poll(line_port);
    console_print("%s back\n", line_name.c_str());
    session_log_note("line back");
    return true;
}

bool line_request_cut() { return gone || ((quit_requested() || time_limit_passed()) && !taking_last_output); }

void line_take_last_output() { taking_last_output = true; }

bool line_wait_room(int ms) {
    if (line_port == nullptr) return true;
    const size_t before = com_pending(line_port);
    poll_port();
    if (line_port == nullptr || com_pending(line_port) < before || com_room(line_port) > 0) return true;
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(ms);
    while (line_port != nullptr && com_room(line_port) == 0) {
        const int left = ms_until(deadline);
        if (left == 0) return false;
        line_wait(left);
    }
    return true;
}

void line_leave_within(int ms) {
    if (line_port != nullptr && !output_left_within(ms)) com_drop_output(line_port);
}

void line_end_program(int status) {
    console_end();
    console_restore_input();
    if (line_port != nullptr) {
        com_drop_output(line_port);
        com_close(line_port);
        line_port = nullptr;
    }
    std::fflush(stdout);
    std::exit(status);
}

// Waits for the next byte, the keyboard watched meanwhile. After Ctrl-Q or
// the --timeout, or while the line is gone (-w), the answer is ETX at once.
int link_get_raw() {
    for (;;) {
        if (line_port != nullptr && com_buffered(line_port) > 0) return line_port->in_buffer[line_port->in_next++];
        if (line_request_cut()) return BYTE_ETX;
        line_wait(-1);
    }
}

void link_put_raw(int byte) {
    if (line_request_cut()) return;
    while (line_port != nullptr && com_room(line_port) < 2 && !line_request_cut()) line_wait(-1);
    if (line_port == nullptr || com_room(line_port) < 2) return;  // Ctrl-Q came while the line took nothing
    unsigned char wire[2] = {static_cast<unsigned char>(byte)};
    const size_t size = line_port->socket != INVALID_SOCKET ? net_line_encode(byte, wire) : 1;
    com_queue(line_port, wire, size);
}

}  // namespace tolvane
