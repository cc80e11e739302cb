// The Windows terminal: polls the port and the keyboard in turn.
#include <conio.h>
#include <windows.h>

#include <atomic>

#include "app/host.h"
#include "app/settings.h"
#include "link/link.h"
#include "terminal/rules.h"
#include "win32/line.h"

namespace tolvane {

namespace {

constexpr int KEY_CTRL_C = 0x03;

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

// Ctrl-C is a key for the target, as in tolvane: with processed input off
// the console hands it over as the byte 0x03.
void take_ctrl_c_as_key() {
    console_in = GetStdHandle(STD_INPUT_HANDLE);
    if (console_in == INVALID_HANDLE_VALUE || !GetConsoleMode(console_in, &saved_input_mode)) return;
    if (!SetConsoleMode(console_in, saved_input_mode & ~DWORD{ENABLE_PROCESSED_INPUT})) return;
    input_mode_changed = true;
    SetConsoleCtrlHandler(on_console_event, TRUE);
    wake_console_input();
}

}  // namespace

void console_restore_input() {
    if (!input_mode_changed) return;
    input_mode_changed = false;
    SetConsoleCtrlHandler(on_console_event, FALSE);
    SetConsoleMode(console_in, saved_input_mode);
}

int console_key() {
    if (ctrl_c_events > 0) {
        --ctrl_c_events;
        return KEY_CTRL_C;
    }
    return _kbhit() ? _getch() : -1;
}

namespace {

// How often a port that went away is looked for (-w).
constexpr int LINE_LOOK_MS = 250;

// -w: waits for the port to come back, the keyboard watched for Ctrl-Q
// (other keys have no line to go to). False when Ctrl-Q came first.
bool wait_for_line_back() {
    for (;;) {
        for (int waited = 0; waited < LINE_LOOK_MS; waited += 10) {
            for (int key; (key = console_key()) >= 0;) {
                if (key == KEY_QUIT) return false;
            }
            Sleep(10);
        }
        if (line_reopen()) return true;
    }
}

}  // namespace

void term_loop() {
    take_ctrl_c_as_key();
    watch_keys_in_requests = true;
    wait_when_gone = wait_for_line;
    for (;;) {
        if (line_let_go_if_gone()) {
            term_drop_kept_keys();
            if (!wait_for_line_back()) break;
            continue;
        }
        int c = com_getc(line_port);
        if (c < 0) {
            // Keys only when the line is quiet: first those typed during a
            // request, then new ones. Keys of two codes (0 or 0xE0 and a
            // scan code) go out as two bytes, one per pass.
            term_send_kept_keys();
            const int key = console_key();
            if (key >= 0) {
                if (!term_from_key(key)) break;
            } else {
                Sleep(1);
            }
            continue;
        }
        if (c == BYTE_DLE)
            c = link_get_raw();
        else if (c == BYTE_STX || c == BYTE_ETX)
            c |= 0x100;
        term_from_line(c);
    }
    watch_keys_in_requests = false;
    wait_when_gone = false;
    console_restore_input();
}

}  // namespace tolvane
