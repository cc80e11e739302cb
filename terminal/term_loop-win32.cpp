// The Windows terminal: polls the port and the keyboard in turn. Keys are
// read into the key queue (here and in a request's waits) and acted on
// here, once the port is quiet.
#include <windows.h>

#include "base/keys.h"
#include "base/settings.h"
#include "link/link.h"
#include "terminal/rules.h"
#include "terminal/term_loop.h"
#include "win32/console.h"
#include "win32/line.h"

namespace tolvane {

namespace {

// How often a port that went away is looked for (-w).
constexpr int LINE_LOOK_MS = 250;

// -w: waits for the port to come back, the keyboard watched for Ctrl-Q
// (other keys have no line to go to).
void wait_for_line_back() {
    for (;;) {
        for (int waited = 0; waited < LINE_LOOK_MS; waited += 10) {
            console_read_keys();
            keys_clear();
            if (quit_requested()) return;
            Sleep(10);
        }
        if (line_reopen()) return;
    }
}

}  // namespace

void term_loop() {
    console_take_input();
    watch_keys_in_requests = true;
    wait_when_gone = wait_for_line;
    for (;;) {
        if (quit_requested()) term_quit();
        if (line_let_go_if_gone()) {
            wait_for_line_back();
            continue;
        }
        int c = com_getc(line_port);
        if (c < 0) {
            // Keys only when the line is quiet.
            console_read_keys();
            if (keys_queued() > 0) {
                term_send_keys();
            } else if (!quit_requested()) {
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
}

}  // namespace tolvane
