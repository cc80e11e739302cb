// The Windows console: target bytes go to the console itself, the program's
// text to standard output, keys come from the console's input. The console
// keeps turning LF into CR LF.
#include "win32/console.h"

#include <conio.h>
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "base/console.h"
#include "base/console_platform.h"
#include "base/keys.h"
#include "base/session_log.h"

namespace tolvane {

void console_put(int byte) {
    _putch(byte);
    console_last_shown = byte & 0xFF;
    const char b = static_cast<char>(byte);
    session_log_write(&b, 1);
}

void console_flush() {}

void console_show_text(std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void console_set_raw(bool) {}

namespace {

constexpr unsigned char KEY_CTRL_C = 0x03;

HANDLE console_in = INVALID_HANDLE_VALUE;
DWORD saved_input_mode = 0;
bool input_mode_changed = false;

// Wine's console hands keys to _kbhit only after one real console read;
// reading nothing is harmless everywhere.
void wake_console_input() {
    char unused;
    DWORD got;
    ReadConsoleA(console_in, &unused, 0, &got, nullptr);
}

// Ctrl-C as an event (Wine's console sends one whatever the input mode)
// still counts as the key; the handler runs in a thread of its own, so it
// only counts. Ctrl-Break and closing the window end the program: the
// console's input mode goes back first.
std::atomic<int> ctrl_c_events{0};

BOOL WINAPI on_console_event(DWORD event) {
    if (event == CTRL_C_EVENT) {
        ++ctrl_c_events;
        return TRUE;
    }
    console_restore_input();
    return FALSE;  // and the default handler ends the program
}

}  // namespace

// Ctrl-C is a key for the target, as in tolvane: with processed input off
// the console hands it over as the byte 0x03.
void console_take_input() {
    console_in = GetStdHandle(STD_INPUT_HANDLE);
    if (console_in == INVALID_HANDLE_VALUE || !GetConsoleMode(console_in, &saved_input_mode)) return;
    if (!SetConsoleMode(console_in, saved_input_mode & ~DWORD{ENABLE_PROCESSED_INPUT})) return;
    input_mode_changed = true;
    SetConsoleCtrlHandler(on_console_event, TRUE);
    wake_console_input();
}

void console_restore_input() {
    if (!input_mode_changed) return;
    input_mode_changed = false;
    SetConsoleCtrlHandler(on_console_event, FALSE);
    SetConsoleMode(console_in, saved_input_mode);
}

void console_read_keys() {
    while (keys_room() > 0 && !quit_requested()) {
        unsigned char key;
        if (ctrl_c_events > 0) {
            --ctrl_c_events;
            key = KEY_CTRL_C;
        } else if (_kbhit()) {
            key = static_cast<unsigned char>(_getch());
        } else {
            return;
        }
        keys_add(&key, 1);
    }
}

}  // namespace tolvane
