// The program's one wait, one per platform (posix/wait.cpp, win32/wait.cpp):
// on a line, the keyboard, the signals, the session's other ends and the
// --timeout together.
//
// A wait only records what happened: keys go into the key queue (Ctrl-Q
// sets the quit flag), a signal ends the program. Its caller looks at what
// changed and acts; callers loop.
#pragma once

#include "base/deadline.h"

namespace tolvane {

constexpr unsigned WAIT_INPUT = 1u << 0;   // the line has bytes
constexpr unsigned WAIT_OUTPUT = 1u << 1;  // the line takes more
// The line has bytes, watched only while the console keeps up with the
// text: decided once the console has been flushed, inside the wait.
constexpr unsigned WAIT_TEXT = 1u << 2;

// WAIT_TEXT as it stands now: the console flushed while it is backed up,
// then WAIT_INPUT if it keeps up. Every platform's wait starts with it.
// In debug builds, a wait that would watch neither the line nor an output
// that waits, with no deadline of its own, stops the program: nothing but
// a key could end it.
unsigned wait_events_now(unsigned events, deadline until);

// Sleeps until the line is ready for one of events (none: only the rest),
// keys came, the console or the log takes more of what waits for them, or
// until (never past the --timeout). The target's text so far is shown
// first. True when the line is ready.
struct line_state;
bool wait_once(line_state& line, unsigned events, deadline until);

// The ways out: the line (and the console and the log, while bytes wait
// for them) alone, no keys and no signals, at most until.
bool wait_line_only(line_state& line, unsigned events, deadline until);

struct wait_set;
class wait_party;

// What every wait of a session watches beside its line; the line holds it,
// the session fills it in.
struct key_queue;
struct wait_watch {
    key_queue* keys = nullptr;  // where the keys read go (null: none are read)
    bool keyboard = false;      // read while the terminal runs, or a line is waited for
    wait_party* party = nullptr;  // the session's other ends (null: none)
    // The commands typed while no line is there (base/keys.h).
    void (*on_command)(void* context, int key) = nullptr;
    void* command_context = nullptr;
};

// Others the wait watches beside the line and the keyboard: the share's
// listeners and clients, the --events readers. Each wait takes their
// handles, and once it woke lets them move what they can without waiting
// (accept, read into their bounded buffers, write what waits), as it
// reads keys; the loop acts on what they recorded.
class wait_party {
public:
    virtual ~wait_party() = default;
    virtual void add_waits(wait_set* set) = 0;
    // set: the handles it added, as the wait found them.
    virtual void after_wait(const wait_set& set) = 0;
};

}  // namespace tolvane
