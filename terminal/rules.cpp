#include "terminal/rules.h"

#include <chrono>

#include "base/console.h"
#include "base/host.h"
#include "base/keys.h"
#include "fileservice/rpc.h"
#include "link/link.h"
#include "terminal/display.h"

namespace tolvane {

namespace {

// A key may take two bytes on the line: DLE and the byte, or CR LF for
// an LF (--map ONLCRNL), never both.
constexpr size_t KEY_BYTES_MAX = 2;

// The key maps first; the echo shows what went to the line.
void send_key(int key) {
    unsigned char bytes[DISPLAY_KEY_MAX];
    const size_t count = display_map_key(key, bytes);
    for (size_t i = 0; i < count; ++i) {
        link_put(bytes[i]);
        if (display_local_echo) console_put(bytes[i]);
    }
}

}  // namespace

void term_from_line(int symbol) {
    if (symbol == SYM_STX) {
        console_flush();  // the target's text shows before the request's trace
        rpc_serve();
    } else if (symbol != FORM_FEED || display_hex) {
        display_text(symbol & 0xFF);
    }
}

void term_send_keys() {
    while (keys_queued() > 0 && host_line_room() >= KEY_BYTES_MAX) send_key(keys_take());
}

void term_quit() {
    using clock = std::chrono::steady_clock;
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(QUIT_PATIENCE_MS);
    const auto ms_left = [deadline] {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        return left > 0 ? static_cast<int>(left) : 0;
    };
    host_line_take_last_output();
    for (;;) {
        term_send_keys();
        if (keys_queued() == 0 || !host_line_wait_room(ms_left())) break;
    }
    host_quit(ms_left());
}

}  // namespace tolvane
