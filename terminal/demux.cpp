#include "terminal/demux.h"

#include <string>

#include "base/console.h"
#include "base/session_stats.h"
#include "fileservice/rpc.h"
#include "link/link.h"
#include "terminal/rules.h"

namespace tolvane {

namespace {

struct demux_state {
    bool in_request = false;
    bool text_after_dle = false;  // a DLE in the text: the next byte is text as it is
};
demux_state demux;

// Noise that held an STX is text like any other, its DLE pairs decoded as
// everywhere (the STX and the ETX among it shown as those bytes).
void show_noise(const std::string& noise) {
    for (size_t i = 0; i < noise.size(); ++i) {
        if (noise[i] == BYTE_DLE && i + 1 < noise.size()) ++i;
        term_text(static_cast<unsigned char>(noise[i]));
    }
}

size_t feed_request(const unsigned char* bytes, size_t count) {
    const rpc_step step = rpc_feed(bytes, count);
    if (step.status == rpc_status::more) return step.used;
    demux.in_request = false;
    if (step.status == rpc_status::noise) show_noise(rpc_noise());
    return step.used;
}

void begin_request() {
    console_flush();  // the target's text shows before the request's trace
    ++stats().requests;
    demux.in_request = true;
    rpc_begin();
}

}  // namespace

size_t demux_feed(const unsigned char* bytes, size_t count) {
    size_t used = 0;
    while (used < count) {
        if (demux.in_request) {
            used += feed_request(bytes + used, count - used);
            continue;
        }
        if (term_text_decided() || console_backed_up()) break;
        if (demux.text_after_dle) {
            demux.text_after_dle = false;
            term_text(bytes[used++]);
            continue;
        }
        const size_t run = term_text_run(bytes + used, count - used);
        used += run;
        if (run > 0 || used == count) continue;
        const unsigned char mark = bytes[used];
        if (mark == BYTE_DLE) {
            demux.text_after_dle = true;
            ++used;
        } else if (mark == BYTE_ETX) {
            term_text(mark);
            ++used;
        } else if (mark == BYTE_STX && !rpc_replying()) {
            ++used;
            begin_request();
        } else {
            break;  // the next request waits for the read's data to leave
        }
    }
    return used;
}

bool demux_in_request() { return demux.in_request; }

bool demux_busy() { return demux.in_request || rpc_replying(); }

deadline demux_patience() { return demux.in_request ? rpc_patience() : deadline::never(); }

void demux_look_at_silence() {
    if (demux.in_request && rpc_patience().passed()) demux_silence();
}

void demux_silence() {
    if (!demux.in_request || rpc_patience().is_never()) return;
    rpc_silence();
    demux.in_request = false;
    show_noise(rpc_noise());
}

void demux_reset() {
    demux = demux_state{};
    rpc_abandon();
}

}  // namespace tolvane
