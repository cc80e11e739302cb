// The terminal: one wait over the line, the keyboard and the signals, up to
// the --timeout. What the line brings is pushed through the demultiplexer;
// keys are read into the key queue in every wait, and this loop acts on
// them between requests, and on a run that is decided, once a wait
// returned.
#include "terminal/term_loop.h"

#include "base/console.h"
#include "base/deadline.h"
#include "base/keyboard.h"
#include "base/keys.h"
#include "base/line.h"
#include "base/wait.h"
#include "fileservice/rpc.h"
#include "terminal/demux.h"
#include "terminal/display.h"
#include "terminal/events.h"
#include "terminal/lend.h"
#include "terminal/outgoing.h"
#include "terminal/rules.h"
#include "terminal/session.h"
#include "terminal/share.h"
#include "terminal/transfer.h"
#include "terminal/watch.h"

namespace tolvane {

namespace {

// How often a line that went away is looked for (-w).
constexpr int LINE_LOOK_MS = 250;

// Takes what the line holds now; the stamps of a read's bytes show when
// that read came.
void fill(session& s) {
    const unsigned long reads = line_reads(s.line);
    line_fill(s.line);
    if (line_reads(s.line) != reads) display_read_arrived();
}

// Every byte already received, before the next key, pushed through the
// demultiplexer; a read's data queued as far as the line's queue takes it.
// Once the run is decided the rest is left unread (the time-out is looked
// at once the buffer is done). A console that takes nothing holds the
// text back: the board then waits.
void serve_line(session& s) {
    while (!quit_requested() && !term_text_decided(s)) {
        if (rpc_replying(s.files)) {
            rpc_reply_more(s.files);
            demux_tell_calls(s);
        }
        const unsigned char* bytes = nullptr;
        size_t in_hand = line_in_hand(s.line, &bytes);
        if (in_hand == 0 && line_buffered(s.line) > 0) {
            fill(s);
            in_hand = line_in_hand(s.line, &bytes);
        }
        if (in_hand == 0) break;
        const size_t used = demux_feed(s, bytes, in_hand);
        line_take(s.line, used);
        if (used == 0) break;
    }
    if (line_buffered(s.line) == 0 && !demux_in_request(s)) term_line_quiet(s);
}

// -w: the line went away. Looks for it a few times a second, the keyboard
// watched for Ctrl-Q and the commands (keys have no line to go to and are
// dropped).
// The share's clients stay: what they send waits for the line.
void wait_for_line_back(session& s) {
    events_line(s, "gone");
    for (;;) {
        line_keys_without_line(s.line);
        wait_once(s.line, 0, deadline::in(LINE_LOOK_MS));
        if (quit_requested() || term_run_decided(s)) return;
        if (line_reopen(s.line)) {
            line_keys_without_line(s.line);
            events_line(s, "back");
            return;
        }
    }
}

}  // namespace

void term_loop(session& s, bool wait_when_gone) {
    keyboard_take();
    s.line.watch.keyboard = true;
    s.line.watch.party = &s.party;
    line_wait_when_gone(s.line, wait_when_gone);

    for (;;) {
        if (quit_requested()) term_quit(s);
        if (term_run_decided(s)) term_end_run(s);
        // A lend waits for the request in progress to end.
        if (!demux_busy(s)) lend_look(s);
        if (line_gone(s.line)) {
            demux_reset(s);  // the request in progress went with it
            outgoing_clear(s);  // and the paced keys
            if (s.lend.lent)
                lend_wait(s);
            else
                wait_for_line_back(s);
            continue;
        }
        serve_line(s);  // what a network line received while it was set up
        events_look_at_watch(s);
        if (quit_requested() || term_run_decided(s)) continue;
        // Keys and texts take their turn between requests, never inside one.
        const bool busy = demux_busy(s);
        if (!busy) {
            term_send_texts(s);
            term_send_keys(s);
        }
        transfer_turn(s);  // one the keys asked for starts; Esc, the time and the output of one running
        line_send(s.line);
        if (line_gone(s.line)) continue;
        // Keys and texts still queued go out as soon as the line takes more.
        // The line is read while the console keeps up, and always inside a
        // request (its bytes are no text); the wait decides, once it has
        // flushed the console, and does not sleep when bytes read before
        // wait for the console no more. Bytes held back by a read's data
        // going out wait for the line to take more.
        // Paced keys wait for their moment instead (outgoing_due).
        const bool keys_wait = !busy && !outgoing_paced(s) && (keys_queued(s.keys) > 0 || watch_sends_due(s.watch) > 0 || share_bytes_waiting(s));
        // A read's data goes on as soon as the line takes more, even when
        // the queue went out whole.
        const bool output_waits = line_pending(s.line) > 0 || keys_wait || rpc_replying(s.files);
        // Bytes in hand that the console held back go on once it keeps up
        // (a request's STX in hand waits for the read's data to leave).
        const unsigned char* unused = nullptr;
        const bool held_by_reply = line_in_hand(s.line, &unused) > 0 && !console_backed_up();
        const unsigned input = demux_in_request(s) ? WAIT_INPUT : held_by_reply ? 0u : WAIT_TEXT;
        const deadline until = busy ? demux_patience(s) : demux_patience(s).sooner(outgoing_due(s));
        wait_once(s.line, input | (output_waits ? WAIT_OUTPUT : 0u), until);
        fill(s);
        if (line_buffered(s.line) == 0) demux_look_at_silence(s);
    }
}

}  // namespace tolvane
