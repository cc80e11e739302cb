// tolvane-win's one wait: WaitForMultipleObjects over the line's operations
// in flight, the keyboard and the --timeout. What a look without sleeping
// already changed is returned at once.
#include "base/wait.h"

#include "base/console.h"
#include "base/keys.h"
#include "base/line.h"
#include "base/time_limit.h"
#include "win32/console.h"
#include "win32/overlapped_line.h"

namespace tolvane {

namespace {

bool keyboard_watched = false;

// The line, null while there is none. Every transport of this program is
// an overlapped_line.
overlapped_line* line_now() { return static_cast<overlapped_line*>(line_transport_now()); }

bool ready(const overlapped_line* line, unsigned events) {
    if (line == nullptr) return false;
    if (line->gone()) return events != 0;
    return ((events & WAIT_INPUT) && line->held() > 0) || ((events & WAIT_OUTPUT) && !line->writing());
}

// Sleeps until one of handles is signalled or until passes (never: no
// end, never with no handle); the line's own look-again time counts.
void sleep_on(const overlapped_line* line, HANDLE* handles, int n, deadline until) {
    int ms = until.left_ms();
    const int look = line ? line->wait_ms() : -1;
    if (look >= 0 && (ms < 0 || look < ms)) ms = look;
    if (n == 0 && ms < 0) return;
    if (n == 0)
        Sleep(static_cast<DWORD>(ms));
    else
        WaitForMultipleObjects(static_cast<DWORD>(n), handles, FALSE, ms < 0 ? INFINITE : static_cast<DWORD>(ms));
}

}  // namespace

void wait_watch_keyboard(bool watch) { keyboard_watched = watch; }

bool wait_once(unsigned events, deadline until) {
    console_flush();  // what the target said so far shows while we wait
    overlapped_line* line = line_now();
    const size_t keys = keys_queued();
    const bool quit = quit_requested();
    const bool watch_keys = keyboard_watched && console_keys_wanted();
    if (line) line->poll();
    if (watch_keys) console_read_keys();
    if (ready(line, events) || keys_queued() != keys || quit_requested() != quit) return ready(line, events);

    HANDLE handles[6];
    int n = line ? line->wait_handles(handles) : 0;
    if (watch_keys) n += console_wait_handles(handles + n);
    if (console_screen_pending() > 0 && console_output_event()) handles[n++] = console_output_event();
    sleep_on(line, handles, n, time_limit_cut(until));
    if (watch_keys) console_read_keys();
    if (line) line->poll();
    return ready(line, events);
}

bool wait_line_only(unsigned events, deadline until) {
    overlapped_line* line = line_now();
    if (line) line->poll();
    if (ready(line, events)) return true;
    HANDLE handles[4];
    int n = line ? line->wait_handles(handles) : 0;
    if (console_screen_pending() > 0 && console_output_event()) handles[n++] = console_output_event();
    sleep_on(line, handles, n, until);
    if (line) line->poll();
    return ready(line, events);
}

}  // namespace tolvane
