// tolvane-win's one wait: WaitForMultipleObjects over the line's operations
// in flight, the keyboard and the --timeout. What a look without sleeping
// already changed is returned at once.
//
// Under Wine every look at the console is a call to its server: the
// console is read when the wait saw keys there, and while the line keeps
// the program from sleeping at most every KEY_LOOK_MS, so that a request
// costs no more with a console than without.
#include "base/wait.h"

#include "base/console.h"
#include "base/keys.h"
#include "base/line.h"
#include "base/time_limit.h"
#include "win32/console.h"
#include "win32/overlapped_line.h"
#include "win32/wait.h"

namespace tolvane {

namespace {

// While the line keeps the program busy, keys are still looked at this often.
constexpr int KEY_LOOK_MS = 20;

deadline next_key_look = deadline::in(0);

void read_keys(key_queue& keys) {
    console_read_keys(keys);
    next_key_look = deadline::in(KEY_LOOK_MS);
}

// The line's operations in flight, as its transport hands them in; null
// while there is none.
overlapped_line* line_now(const line_state& state) {
    wait_set set;
    if (line_transport* transport = line_transport_now(state)) transport->add_waits(&set);
    return set.line;
}

bool ready(const line_state& state, const overlapped_line* line, unsigned events) {
    if (line == nullptr) return false;
    if (line->gone()) return events != 0;
    return ((events & WAIT_INPUT) && line->held() > 0) || ((events & WAIT_OUTPUT) && !line->writing()) ||
           line_input_in_hand(state, events);
}

// Sleeps until one of handles is signalled or until passes (never: no
// end, never with no handle); the line's own look-again time counts.
// Returns the index of the first handle signalled, or n.
int sleep_on(const overlapped_line* line, HANDLE* handles, int n, deadline until) {
    int ms = until.left_ms();
    const int look = line ? line->wait_ms() : -1;
    if (look >= 0 && (ms < 0 || look < ms)) ms = look;
    if (n == 0 && ms < 0) return n;
    if (n == 0) {
        Sleep(static_cast<DWORD>(ms));
        return n;
    }
    const DWORD woke =
        WaitForMultipleObjects(static_cast<DWORD>(n), handles, FALSE, ms < 0 ? INFINITE : static_cast<DWORD>(ms));
    return woke < WAIT_OBJECT_0 + static_cast<DWORD>(n) ? static_cast<int>(woke - WAIT_OBJECT_0) : n;
}

}  // namespace

bool wait_once(line_state& state, unsigned events, deadline until) {
    events = wait_events_now(events, until);
    wait_party* party = state.watch.party;
    overlapped_line* line = line_now(state);
    if (line) line->poll();
    // What the target said so far shows while we wait; what has arrived
    // already joins it first, so that the console gets it in one write.
    if (!(line && (events & WAIT_INPUT) && line->held() > 0)) console_flush();
    // That flush may have handed the console all it held back: the line is
    // watched again, or nothing might wake the wait.
    events = wait_events_now(events, until);
    stop_if_console_closed();
    key_queue* queue = state.watch.keys;
    const size_t keys = queue ? keys_queued(*queue) : 0;
    const bool quit = quit_requested();
    const bool watch_keys = state.watch.keyboard && queue && console_keys_wanted(*queue);
    if (watch_keys && next_key_look.passed()) read_keys(*queue);
    wait_set others;
    if (party) party->add_waits(&others);
    if (ready(state, line, events) || (queue && keys_queued(*queue) != keys) || quit_requested() != quit ||
        others.ready_now) {
        if (party) party->after_wait(others);
        return ready(state, line, events);
    }

    // The keyboard's handles first: the wait names the first one signalled.
    HANDLE handles[8 + wait_set::OTHERS_MAX];
    const int key_handles = watch_keys ? console_wait_handles(handles) : 0;
    int n = key_handles + (line ? line->wait_handles(handles + key_handles) : 0);
    if (console_screen_pending() > 0 && console_output_event()) handles[n++] = console_output_event();
    for (size_t i = 0; i < others.other_count; ++i) handles[n++] = others.others[i];
    const int woke = sleep_on(line, handles, n, time_limit_cut(until));
    if (watch_keys && (woke < key_handles || next_key_look.passed())) read_keys(*queue);
    if (line) line->poll();
    if (party) party->after_wait(others);
    return ready(state, line, events);
}

bool wait_line_only(line_state& state, unsigned events, deadline until) {
    overlapped_line* line = line_now(state);
    if (line) line->poll();
    if (ready(state, line, events)) return true;
    HANDLE handles[4];
    int n = line ? line->wait_handles(handles) : 0;
    if (console_screen_pending() > 0 && console_output_event()) handles[n++] = console_output_event();
    (void)sleep_on(line, handles, n, until);
    if (line) line->poll();
    return ready(state, line, events);
}

}  // namespace tolvane
