// What the terminal sends to the board of its own accord: the reset, the
// command words, the --send texts and the keys. Each byte goes out escaped
// for the link, or bare with --plain (no file service: 0x02, 0x03 and 0x10
// are keys like any other). With --output-delay or --output-line-delay the
// bytes are paced for a board without flow control: they are held here and
// let out one at a time, each when its moment came. The loop waits on that
// moment (outgoing_due); nothing here ever sleeps.
#pragma once

#include <cstddef>
#include <deque>

#include "base/deadline.h"

namespace tolvane {

// Paced bytes held at most: keys beyond it wait in the key queue.
constexpr size_t OUTGOING_HELD_MAX = 4096;

struct outgoing_state {
    bool plain = false;
    int delay_ms = 0;
    int line_delay_ms = 0;
    std::deque<unsigned char> held;
    deadline next = deadline::in(0);  // the next held byte may go then
};
struct session;

// The way out for the rest of the run: bare or escaped, and the pause
// after each byte and after each CR, in ms (0: none).
void outgoing_start(session& s, bool plain, int delay_ms, int line_delay_ms);
bool outgoing_paced(const session& s);

// How many bytes outgoing_put takes now: the line's room, or what is left
// of the held bytes when paced.
size_t outgoing_room(session& s);
// One byte for the board: queued for the line now, or held when paced.
void outgoing_put(session& s, unsigned char byte);
// Paced: lets out the held bytes whose moment came, as far as the line
// takes them. Unpaced: nothing to do.
void outgoing_send(session& s);
// When the next held byte is due; never when none is held.
deadline outgoing_due(const session& s);
// A held byte is due but the line has no room for it: wait for the line.
bool outgoing_line_full(session& s);
size_t outgoing_held(const session& s);
// The line went away, or the run ends: the held bytes are dropped.
void outgoing_clear(session& s);

}  // namespace tolvane
