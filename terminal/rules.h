// What the terminal does with each symbol from the line and each key, the
// same in both programs; only the waiting differs.
//
// Keys reach the terminal through the key queue (base/keys.h): whoever
// waits records them there, and the loops act on them here, after their
// wait has returned. A run watched for its end (--expect, --fail,
// --timeout) is decided the same way: the text and the waits record, the
// loop asks term_run_decided() and ends it.
#pragma once

#include "terminal/session.h"
#include "terminal/watch.h"

namespace tolvane {

constexpr int FORM_FEED = 0x0C;
// Ctrl-Q to exit: the keys typed before it and the queued output get this
// long to leave a line that is slow or takes nothing.
constexpr int QUIT_PATIENCE_MS = 500;
// The run's end by status: a line matched --fail, the --timeout passed.
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_TIMED_OUT = 124;

// A byte of the target's text: a form feed is dropped (the hex view shows
// it), anything else goes to the console, shown as the display settings
// say, and is matched, as it came, against --expect and --fail.
// Every text sink gets it too: the share's clients, the --events.
void term_text(session& s, int byte);
// The same for a run of received bytes, up to the first one with a meaning
// on the line (STX, ETX, DLE), the run decided, or the console backed up.
// Returns how many it took.
size_t term_text_run(session& s, const unsigned char* bytes, size_t count);
// True once the text has decided the run: the loop then takes nothing more
// from the line. Inline: it is asked after every symbol.
inline bool term_text_decided(const session& s) { return watch_decided(s.watch); }

// The target's exit request came. Headless (keys not from a terminal, or a
// watched run) it decides the run, which ends with the status held to
// 0..255 (255 for any other); at a terminal "the board exited with status
// N" is told and the terminal goes on.
void term_board_exited(session& s, long status);

// Every byte received so far was taken: the unfinished line of text is
// matched too (a prompt that waits for its answer).
void term_line_quiet(session& s);

// Sends the queued keys, oldest first, as far as the line takes them
// without waiting; the rest stay queued for the next turn. The key maps
// apply, and with local echo the console shows what was sent. A command
// of the command key is acted on in its turn (terminal/commands.h). Then,
// in their turn, the bytes the share's clients sent, as keys (no command
// key, no Ctrl-Q: theirs are bytes for the board).
void term_send_keys(session& s);
// The same for the --send texts that are due.
void term_send_texts(session& s);

// Ends the program after Ctrl-Q: the queued keys and output leave within
// QUIT_PATIENCE_MS or are dropped, then the settings come back, status 0.
[[noreturn]] void term_quit(session& s);

// True once the run is decided: a line matched --fail, every --expect
// matched, the target's exit request came without a terminal, or the
// --timeout passed. Text is matched only between requests;
// the time-out gives up a request in progress.
bool term_run_decided(const session& s);
// "timed out after N s", and the --expect pattern still awaited.
void term_say_timed_out(const session& s);
// Ends a decided run as term_quit does, with "failed: LINE" and status 1,
// status 0, the target's exit status, or "timed out after N s" and status
// 124.
[[noreturn]] void term_end_run(session& s);

}  // namespace tolvane
