#include "terminal/outgoing.h"

#include "base/line.h"
#include "terminal/session.h"

namespace tolvane {

namespace {

// A DLE-escaped byte takes two on the line.
constexpr size_t BYTE_ON_LINE_MAX = 2;

void put_now(session& s, unsigned char byte) {
    if (s.outgoing.plain)
        line_put_raw(s.line, byte);
    else
        line_put_data(s.line, &byte, 1);
}

}  // namespace

void outgoing_start(session& s, bool plain, int delay_ms, int line_delay_ms) {
    outgoing_state& out = s.outgoing;
    out = outgoing_state{};
    out.plain = plain;
    out.delay_ms = delay_ms > 0 ? delay_ms : 0;
    out.line_delay_ms = line_delay_ms > 0 ? line_delay_ms : 0;
}

bool outgoing_paced(const session& s) { return s.outgoing.delay_ms > 0 || s.outgoing.line_delay_ms > 0; }

size_t outgoing_room(session& s) {
    if (!outgoing_paced(s)) return line_room(s.line);
    return OUTGOING_HELD_MAX - s.outgoing.held.size();
}

void outgoing_put(session& s, unsigned char byte) {
    if (outgoing_paced(s))
        s.outgoing.held.push_back(byte);
    else
        put_now(s, byte);
}

void outgoing_send(session& s) {
    outgoing_state& out = s.outgoing;
    while (!out.held.empty() && out.next.passed() && line_room(s.line) >= BYTE_ON_LINE_MAX) {
        const unsigned char byte = out.held.front();
        out.held.pop_front();
        put_now(s, byte);
        line_send(s.line);  // its moment is now, not at the loop's next turn
        out.next = deadline::in(out.delay_ms + (byte == '\r' ? out.line_delay_ms : 0));
    }
}

deadline outgoing_due(const session& s) { return s.outgoing.held.empty() ? deadline::never() : s.outgoing.next; }

bool outgoing_line_full(session& s) { return !s.outgoing.held.empty() && line_room(s.line) < BYTE_ON_LINE_MAX; }

size_t outgoing_held(const session& s) { return s.outgoing.held.size(); }

void outgoing_clear(session& s) { s.outgoing.held.clear(); }

}  // namespace tolvane
