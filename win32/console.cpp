#include "win32/console.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <string>

#include "base/console.h"
#include "base/keyboard.h"
#include "base/keys.h"
#include "base/stop.h"

namespace tolvane {

// ---- Keys.

namespace {

constexpr unsigned char KEY_CTRL_C = 0x03;
constexpr DWORD RECORDS_PER_READ = 512;

HANDLE console_in = INVALID_HANDLE_VALUE;
DWORD saved_input_mode = 0;
bool input_mode_changed = false;
bool keyboard_open = false;

// Ctrl-C as an event (Wine's console sends one whatever the input mode)
// still counts as the key. The handler runs in a thread of its own: it only
// counts and wakes the wait. Ctrl-Break and closing the window end the
// program: the console's input mode goes back first.
std::atomic<int> ctrl_c_events{0};
HANDLE ctrl_c_event = nullptr;

BOOL WINAPI on_console_event(DWORD event) {
    if (event == CTRL_C_EVENT) {
        ++ctrl_c_events;
        SetEvent(ctrl_c_event);
        return TRUE;
    }
    keyboard_release();
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

void read_piped_keys() {
    if (WaitForSingleObject(piped.ready, 0) != WAIT_OBJECT_0) return;
    if (piped.ended) {
        keyboard_open = false;  // the line is still served
        return;
    }
    const size_t count = std::min(piped.size - piped.next, keys_room());
    keys_add(piped.block.data() + piped.next, count);
    piped.next += count;
    if (piped.next < piped.size && !quit_requested()) return;  // the rest once the queue has room
    ResetEvent(piped.ready);
    SetEvent(piped.taken);
}

struct extended_key {
    WORD virtual_key;
    unsigned char prefix;  // 0xE0 or 0x00; with Alt always 0x00
    unsigned char normal, shift, ctrl, alt;
};

// The keys without a character, as _getch reports them.
constexpr std::array<extended_key, 22> EXTENDED_KEYS = {{
    {VK_HOME, 0xE0, 0x47, 0x47, 0x77, 0x97},   {VK_UP, 0xE0, 0x48, 0x48, 0x8D, 0x98},
    {VK_PRIOR, 0xE0, 0x49, 0x49, 0x86, 0x99},  {VK_LEFT, 0xE0, 0x4B, 0x4B, 0x73, 0x9B},
    {VK_RIGHT, 0xE0, 0x4D, 0x4D, 0x74, 0x9D},  {VK_END, 0xE0, 0x4F, 0x4F, 0x75, 0x9F},
    {VK_DOWN, 0xE0, 0x50, 0x50, 0x91, 0xA0},   {VK_NEXT, 0xE0, 0x51, 0x51, 0x76, 0xA1},
    {VK_INSERT, 0xE0, 0x52, 0x52, 0x92, 0xA2}, {VK_DELETE, 0xE0, 0x53, 0x53, 0x93, 0xA3},
    {VK_F1, 0x00, 0x3B, 0x54, 0x5E, 0x68},     {VK_F2, 0x00, 0x3C, 0x55, 0x5F, 0x69},
    {VK_F3, 0x00, 0x3D, 0x56, 0x60, 0x6A},     {VK_F4, 0x00, 0x3E, 0x57, 0x61, 0x6B},
    {VK_F5, 0x00, 0x3F, 0x58, 0x62, 0x6C},     {VK_F6, 0x00, 0x40, 0x59, 0x63, 0x6D},
    {VK_F7, 0x00, 0x41, 0x5A, 0x64, 0x6E},     {VK_F8, 0x00, 0x42, 0x5B, 0x65, 0x6F},
    {VK_F9, 0x00, 0x43, 0x5C, 0x66, 0x70},     {VK_F10, 0x00, 0x44, 0x5D, 0x67, 0x71},
    {VK_F11, 0xE0, 0x85, 0x87, 0x89, 0x8B},    {VK_F12, 0xE0, 0x86, 0x88, 0x8A, 0x8C},
}};

void read_console_keys() {
    DWORD waiting = 0;
    if (!GetNumberOfConsoleInputEvents(console_in, &waiting) || waiting == 0) return;
    static std::array<INPUT_RECORD, RECORDS_PER_READ> records;
    // A record gives at most two codes: no more than the queue takes, unless
    // it is full and the console is read only for Ctrl-Q.
    const size_t room = keys_room();
    const DWORD fits = room == 0 ? RECORDS_PER_READ
                                 : static_cast<DWORD>(std::min<size_t>(RECORDS_PER_READ, std::max<size_t>(room / 2, 1)));
    DWORD got = 0;
    if (!ReadConsoleInputA(console_in, records.data(), std::min(waiting, fits), &got)) {
        keyboard_open = false;
        return;
    }
    std::string keys;
    for (DWORD i = 0; i < got; ++i) {
        if (records[i].EventType != KEY_EVENT || !records[i].Event.KeyEvent.bKeyDown) continue;
        unsigned char codes[2];
        const size_t n = console_key_codes(records[i].Event.KeyEvent, codes);
        for (WORD r = 0; r < std::max<WORD>(records[i].Event.KeyEvent.wRepeatCount, 1); ++r)
            keys.append(reinterpret_cast<const char*>(codes), n);
    }
    keys_add(reinterpret_cast<const unsigned char*>(keys.data()), keys.size());
}

}  // namespace

size_t console_key_codes(const KEY_EVENT_RECORD& key, unsigned char codes[2]) {
    if (key.uChar.AsciiChar != 0) {
        codes[0] = static_cast<unsigned char>(key.uChar.AsciiChar);
        return 1;
    }
    for (const extended_key& k : EXTENDED_KEYS) {
        if (k.virtual_key != key.wVirtualKeyCode) continue;
        const DWORD state = key.dwControlKeyState;
        const bool alt = state & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED);
        const bool ctrl = state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED);
        codes[0] = alt ? 0x00 : k.prefix;
        codes[1] = alt ? k.alt : ctrl ? k.ctrl : (state & SHIFT_PRESSED) ? k.shift : k.normal;
        return 2;
    }
    return 0;
}

// Ctrl-C is a key for the target, as in tolvane: with processed input off
// the console hands it over as the byte 0x03.
const unsigned char KEYBOARD_BACKSPACE = 0x08;

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
    if (ctrl_c_event == nullptr) ctrl_c_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!SetConsoleMode(console_in, saved_input_mode & ~DWORD{ENABLE_PROCESSED_INPUT})) return;
    input_mode_changed = true;
    keyboard_open = true;
    SetConsoleCtrlHandler(on_console_event, TRUE);
    stop_on_exit(keyboard_release);
}

void keyboard_release() {
    if (!input_mode_changed) return;
    input_mode_changed = false;
    stop_forget(keyboard_release);
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

bool console_keys_wanted() {
    // A full queue leaves keys piped in waiting in their pipe; the console
    // is still read for Ctrl-Q.
    return keyboard_open && (keys_room() > 0 || console_in != INVALID_HANDLE_VALUE);
}

void console_read_keys() {
    if (!console_keys_wanted()) return;
    if (console_in == INVALID_HANDLE_VALUE) {
        read_piped_keys();
        return;
    }
    for (; ctrl_c_events > 0; --ctrl_c_events) keys_add(&KEY_CTRL_C, 1);
    read_console_keys();
}

}  // namespace tolvane
