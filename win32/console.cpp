#include "win32/console.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "base/console.h"
#include "base/keyboard.h"
#include "base/keys.h"
#include "base/stop.h"
#include "win32/console_keys.h"

namespace tolvane {

// ---- Keys.

namespace {

constexpr DWORD RECORDS_PER_READ = 512;

HANDLE console_in = INVALID_HANDLE_VALUE;
DWORD saved_input_mode = 0;
bool input_mode_changed = false;
bool keyboard_open = false;

// Ctrl-C as an event (Wine's console sends one whatever the input mode)
// still counts as the key, after the keys typed before it. The handler runs
// in a thread of its own: it only notes where the key goes and wakes the
// wait. Ctrl-Break and closing the window end the program: the console's
// input mode goes back first.
CRITICAL_SECTION key_lock;  // the reader and the records it has read
console_key_reader key_reader;
HANDLE ctrl_c_event = nullptr;

BOOL WINAPI on_console_event(DWORD event) {
    if (event == CTRL_C_EVENT) {
        EnterCriticalSection(&key_lock);
        DWORD waiting = 0;
        if (!GetNumberOfConsoleInputEvents(console_in, &waiting)) waiting = 0;
        key_reader.ctrl_c_came(waiting);
        LeaveCriticalSection(&key_lock);
        SetEvent(ctrl_c_event);
        return TRUE;
    }
    keyboard_release();
    console_give_back();
    return FALSE;  // and the default handler ends the program
}

// Standard input that is no console (a pipe, a file): a thread reads it in
// blocks and hands each block over; the wait sees `ready`. The thread reads
// the next block only once this one was taken, so nothing is held twice.
struct piped_input {
    HANDLE ready = nullptr;  // manual reset: a block (or the end) is there
    HANDLE taken = nullptr;  // auto reset: the block was taken
    std::array<unsigned char, 4096> block{};
    size_t size = 0;
    size_t next = 0;
    bool ended = false;
};
piped_input piped;

DWORD WINAPI read_piped_input(void*) {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    for (;;) {
        DWORD got = 0;
        const BOOL ok = ReadFile(in, piped.block.data(), static_cast<DWORD>(piped.block.size()), &got, nullptr);
        piped.size = ok ? got : 0;
        piped.next = 0;
        piped.ended = piped.size == 0;
        SetEvent(piped.ready);
        if (piped.ended) return 0;
        WaitForSingleObject(piped.taken, INFINITE);
    }
}

bool start_piped_input() {
    piped.ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    piped.taken = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (piped.ready == nullptr || piped.taken == nullptr) return false;
    const HANDLE thread = CreateThread(nullptr, 0, read_piped_input, nullptr, 0, nullptr);
    if (thread == nullptr) return false;
    CloseHandle(thread);
    return true;
}

void read_piped_keys(key_queue& queue) {
    if (WaitForSingleObject(piped.ready, 0) != WAIT_OBJECT_0) return;
    if (piped.ended) {
        keyboard_open = false;  // the line is still served
        return;
    }
    const size_t count = std::min(piped.size - piped.next, keys_room(queue));
    keys_add(queue, piped.block.data() + piped.next, count);
    piped.next += count;
    if (piped.next < piped.size && !quit_requested()) return;  // the rest once the queue has room
    ResetEvent(piped.ready);
    SetEvent(piped.taken);
}

void read_console_keys(key_queue& queue) {
    // A record gives at most KEY_CODES_MAX bytes: no more than the queue
    // takes, unless it is full and the console is read only for Ctrl-Q.
    const size_t room = keys_room(queue);
    const DWORD fits = room == 0 ? RECORDS_PER_READ
                                 : static_cast<DWORD>(std::min<size_t>(RECORDS_PER_READ,
                                                                        std::max<size_t>(room / KEY_CODES_MAX, 1)));
    static std::array<INPUT_RECORD, RECORDS_PER_READ> records;
    std::string keys;
    EnterCriticalSection(&key_lock);
    DWORD waiting = 0;
    DWORD got = 0;
    const bool read = GetNumberOfConsoleInputEvents(console_in, &waiting) &&
                      (waiting == 0 || ReadConsoleInputW(console_in, records.data(), std::min(waiting, fits), &got));
    if (read) key_reader.take(records.data(), got, &keys);
    LeaveCriticalSection(&key_lock);
    if (!read) keyboard_open = false;
    keys_add(queue, reinterpret_cast<const unsigned char*>(keys.data()), keys.size());
}

void release_at_exit(void*) { keyboard_release(); }

}  // namespace

// Ctrl-C is a key for the target, as in tolvane: with processed input off
// the console hands it over as the byte 0x03.
const unsigned char KEYBOARD_BACKSPACE = 0x08;

// The Ctrl-C handler's thread never looks at the form.
void keyboard_use(key_form form) { key_reader.use(form); }

void keyboard_take() {
    if (input_mode_changed) return;
    console_in = GetStdHandle(STD_INPUT_HANDLE);
    if (console_in == INVALID_HANDLE_VALUE || console_in == nullptr) return;
    if (!GetConsoleMode(console_in, &saved_input_mode)) {
        // Keys piped in, as bytes; started once, it reads to the end.
        keyboard_open = (piped.ready != nullptr && !piped.ended) || (piped.ready == nullptr && start_piped_input());
        console_in = INVALID_HANDLE_VALUE;
        return;
    }
    if (ctrl_c_event == nullptr) {
        InitializeCriticalSection(&key_lock);
        ctrl_c_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    console_take_utf8();
    if (!SetConsoleMode(console_in, saved_input_mode & ~DWORD{ENABLE_PROCESSED_INPUT})) return;
    input_mode_changed = true;
    keyboard_open = true;
    SetConsoleCtrlHandler(on_console_event, TRUE);
    stop_on_exit(release_at_exit);
}

bool keyboard_is_terminal() {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

void keyboard_release() {
    if (!input_mode_changed) return;
    input_mode_changed = false;
    stop_forget(release_at_exit);
    keyboard_open = false;  // until the console is taken again
    SetConsoleCtrlHandler(on_console_event, FALSE);
    SetConsoleMode(console_in, saved_input_mode);
}

int console_wait_handles(HANDLE* handles) {
    if (!keyboard_open) return 0;
    if (console_in == INVALID_HANDLE_VALUE) {
        handles[0] = piped.ready;
        return 1;
    }
    handles[0] = console_in;
    handles[1] = ctrl_c_event;
    return 2;
}

bool console_keys_wanted(const key_queue& queue) {
    // A full queue leaves keys piped in waiting in their pipe; the console
    // is still read for Ctrl-Q.
    return keyboard_open && (keys_room(queue) > 0 || console_in != INVALID_HANDLE_VALUE);
}

void console_read_keys(key_queue& queue) {
    if (!console_keys_wanted(queue)) return;
    if (console_in == INVALID_HANDLE_VALUE) {
        read_piped_keys(queue);
        return;
    }
    read_console_keys(queue);
}

}  // namespace tolvane
