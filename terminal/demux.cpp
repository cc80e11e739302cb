#include "terminal/demux.h"

#include <string>

#include "base/console.h"
#include "base/session_stats.h"
#include "fileservice/rpc.h"
#include "link/link.h"
#include "terminal/rules.h"
#include "terminal/events.h"
#include "terminal/session.h"
#include "terminal/transfer.h"
#include "terminal/watch.h"

namespace tolvane {

namespace {

// Noise that held an STX is text like any other, its DLE pairs decoded as
// everywhere (the STX and the ETX among it shown as those bytes).
void show_noise(session& s, const std::string& noise) {
    for (size_t i = 0; i < noise.size(); ++i) {
        if (noise[i] == BYTE_DLE && i + 1 < noise.size()) ++i;
        term_text(s, static_cast<unsigned char>(noise[i]));
    }
}

size_t feed_request(session& s, const unsigned char* bytes, size_t count) {
    const rpc_step step = rpc_feed(s.files, bytes, count);
    demux_tell_calls(s);
    if (step.status == rpc_status::more) return step.used;
    s.demux.in_request = false;
    if (step.status == rpc_status::noise) show_noise(s, rpc_noise(s.files));
    long status = 0;
    if (rpc_take_exit_status(s.files, &status)) term_board_exited(s, status);
    return step.used;
}

void begin_request(session& s) {
    console_flush();  // the target's text shows before the request's trace
    ++stats().requests;
    s.demux.in_request = true;
    rpc_begin(s.files);
}

// --plain: text through and through; the bytes that mark frames are shown
// one at a time as any other.
size_t feed_plain(session& s, const unsigned char* bytes, size_t count) {
    size_t used = 0;
    while (used < count && !term_text_decided(s) && !console_backed_up()) {
        used += term_text_run(s, bytes + used, count - used);
        if (used < count && !term_text_decided(s) && !console_backed_up()) term_text(s, bytes[used++]);
    }
    return used;
}

// Text and requests, up to a transfer's turn (the watch stops the text
// there), the console backing up or the run decided.
size_t feed_framed(session& s, const unsigned char* bytes, size_t count) {
    size_t used = 0;
    while (used < count) {
        if (s.demux.in_request) {
            used += feed_request(s, bytes + used, count - used);
            continue;
        }
        if (term_text_decided(s) || console_backed_up()) break;
        if (s.demux.text_after_dle) {
            s.demux.text_after_dle = false;
            term_text(s, bytes[used++]);
            continue;
        }
        const size_t run = term_text_run(s, bytes + used, count - used);
        used += run;
        if (run > 0 || used == count) continue;
        const unsigned char mark = bytes[used];
        if (mark == BYTE_DLE) {
            s.demux.text_after_dle = true;
            ++used;
        } else if (mark == BYTE_ETX) {
            term_text(s, mark);
            ++used;
        } else if (mark == BYTE_STX && !rpc_replying(s.files)) {
            ++used;
            begin_request(s);
        } else {
            break;  // the next request waits for the read's data to leave
        }
    }
    return used;
}

}  // namespace

void demux_tell_calls(session& s) {
    for (std::string call; rpc_take_call(s.files, &call);) events_request(s, call);
}

size_t demux_feed(session& s, const unsigned char* bytes, size_t count) {
    size_t used = 0;
    for (;;) {
        // A transfer has the stream from the byte its turn came at; the
        // board's text after its end is text again.
        if (!s.demux.in_request && transfer_take_over(s)) {
            if (used == count) break;
            used += transfer_feed(s, bytes + used, count - used);
            if (transfer_active(s)) break;  // it took them all
            continue;
        }
        if (used == count) break;
        const size_t taken = s.plain ? feed_plain(s, bytes + used, count - used) : feed_framed(s, bytes + used, count - used);
        used += taken;
        if (!watch_transfer_due(s.watch)) break;  // the console, the run, or a request's turn
    }
    return used;
}

bool demux_in_request(const session& s) { return s.demux.in_request || transfer_active(s); }

bool demux_busy(const session& s) { return demux_in_request(s) || rpc_replying(s.files); }

deadline demux_patience(const session& s) {
    return s.demux.in_request ? rpc_patience(s.files) : transfer_due(s);
}

void demux_look_at_silence(session& s) {
    if (s.demux.in_request && rpc_patience(s.files).passed()) demux_silence(s);
}

void demux_silence(session& s) {
    if (!s.demux.in_request || rpc_patience(s.files).is_never()) return;
    rpc_silence(s.files);
    s.demux.in_request = false;
    show_noise(s, rpc_noise(s.files));
}

void demux_reset(session& s) {
    transfer_abandon(s, "given up");
    s.demux = frame_demux{};
    rpc_abandon(s.files);
}

}  // namespace tolvane
