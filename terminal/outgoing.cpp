#include "terminal/outgoing.h"

#include <deque>

#include "base/line.h"
#include "link/link.h"

namespace tolvane {

namespace {

// A DLE-escaped byte takes two on the line.
constexpr size_t BYTE_ON_LINE_MAX = 2;

struct outgoing_state {
    bool plain = false;
    int delay_ms = 0;
    int line_delay_ms = 0;
    std::deque<unsigned char> held;
    deadline next = deadline::in(0);  // the next held byte may go then
};
outgoing_state out;

void put_now(unsigned char byte) {
    if (out.plain)
        link_put_raw(byte);
    else
        link_put(byte);
}

}  // namespace

void outgoing_start(bool plain, int delay_ms, int line_delay_ms) {
    out = outgoing_state{};
    out.plain = plain;
    out.delay_ms = delay_ms > 0 ? delay_ms : 0;
    out.line_delay_ms = line_delay_ms > 0 ? line_delay_ms : 0;
}

bool outgoing_paced() { return out.delay_ms > 0 || out.line_delay_ms > 0; }

size_t outgoing_room() {
    if (!outgoing_paced()) return line_room();
    return OUTGOING_HELD_MAX - out.held.size();
}

void outgoing_put(unsigned char byte) {
    if (outgoing_paced())
        out.held.push_back(byte);
    else
        put_now(byte);
}

void outgoing_send() {
    while (!out.held.empty() && out.next.passed() && line_room() >= BYTE_ON_LINE_MAX) {
        const unsigned char byte = out.held.front();
        out.held.pop_front();
        put_now(byte);
        line_send();  // its moment is now, not at the loop's next turn
        out.next = deadline::in(out.delay_ms + (byte == '\r' ? out.line_delay_ms : 0));
    }
}

deadline outgoing_due() { return out.held.empty() ? deadline::never() : out.next; }

bool outgoing_line_full() { return !out.held.empty() && line_room() < BYTE_ON_LINE_MAX; }

size_t outgoing_held() { return out.held.size(); }

void outgoing_clear() { out.held.clear(); }

}  // namespace tolvane
