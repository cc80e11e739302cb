// The board's byte stream, pushed in as the line delivers it, in whatever
// pieces: runs of text go to the terminal's text sinks (the display, the
// log, the --expect watch); an unescaped STX starts a file-service request,
// whose bytes go to the file service (fileservice/rpc.h) until it is over.
// A request that turns out to be noise is shown as the text it was. While
// a transfer runs (terminal/transfer.h) every byte is the transfer's. This
// is the one place that tells text from requests; nothing here waits.
#pragma once

#include <cstddef>

#include "base/deadline.h"

namespace tolvane {

struct session;

// Where the stream stands between two pieces.
struct frame_demux {
    bool in_request = false;
    bool text_after_dle = false;  // a DLE in the text: the next byte is text as it is
};

// Takes what it can of count received bytes and returns how many: text
// stops when the console backs up or the run is decided, and a request's
// STX waits while a read's data is still going out. The rest stays with
// the line for the next turn.
size_t demux_feed(session& s, const unsigned char* bytes, size_t count);

// The calls served (as -r names them) go to --events.
void demux_tell_calls(session& s);

// A request is being received, or a transfer runs: keys and texts wait
// for its end.
bool demux_in_request(const session& s);
// A request, or a read's data, is in progress: keys and texts wait.
bool demux_busy(const session& s);
// When the line's silence would make the request in progress noise; when
// the transfer running has to be looked at.
deadline demux_patience(const session& s);
// After a wait: a request whose patience ran out is shown as text.
void demux_look_at_silence(session& s);
// The line fell silent in the middle of a request: it is shown as text.
void demux_silence(session& s);
// Gives up what is in progress, showing nothing: the line went away, or
// the run ends (a transfer's other side gets CAN CAN).
void demux_reset(session& s);

}  // namespace tolvane
