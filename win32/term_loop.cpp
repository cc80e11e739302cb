// The Windows terminal: polls the port and the keyboard in turn.
#include <conio.h>
#include <windows.h>

#include "app/host.h"
#include "link/link.h"
#include "terminal/rules.h"
#include "win32/line.h"

namespace tolvane {

namespace {

void console_put(int byte) { _putch(byte); }

// Wine's console hands keys to _kbhit only after one real console read;
// reading nothing is harmless everywhere.
void wake_console_input() {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode;
    if (in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode)) return;
    char unused;
    DWORD got;
    ReadConsoleA(in, &unused, 0, &got, nullptr);
}

}  // namespace

void term_loop() {
    wake_console_input();
    for (;;) {
        int c = com_getc(line_port);
        if (c < 0) {
            // Keys only when the line is quiet. Keys of two codes (0 or
            // 0xE0 and a scan code) go out as two bytes, one per pass.
            if (_kbhit()) {
                if (!term_from_key(_getch())) break;
            } else {
                Sleep(1);
            }
            continue;
        }
        if (c == BYTE_DLE)
            c = link_get_raw();
        else if (c == BYTE_STX || c == BYTE_ETX)
            c |= 0x100;
        term_from_line(c, console_put);
    }
}

}  // namespace tolvane
