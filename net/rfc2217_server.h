// The server's side of RFC 2217 for one network client of the line (a
// share's rfc2217 kind): telnet taken out of the client's bytes, its
// COM-PORT-OPTION requests applied to the line through a port and answered
// at once, and the line's bytes made ready for the wire.
//
// No sockets and no line here: the port does what a request asks, so the
// same server runs on the live line (net/rfc2217_line.h) and in its tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/line.h"  // line_action, modem_state
#include "base/settings.h"
#include "net/telnet.h"

namespace tolvane {

// The line as the server sees it. apply is false when the line refused
// the change (a rate the driver will not make).
struct Rfc2217Port {
    void* context = nullptr;
    bool (*apply)(void* context, const line_action& action) = nullptr;
    // The speed, frame and flow control in force.
    const line_settings& (*settings)(void* context) = nullptr;
    modem_state (*modem)(void* context) = nullptr;
};

// A client's connection. Answers and notifications wait in the codec's
// bounded queue (rfc2217_serve_take); a client that never reads them
// loses the newest.
struct Rfc2217Server {
    TelnetCodec telnet;
    Rfc2217Port port;
    bool spoke = false;  // the client has sent a COM-PORT-OPTION command
    // The break, DTR and RTS as last asked (drivers raise DTR and RTS at
    // the open), told where the line cannot tell them itself.
    bool break_on = false;
    bool dtr_asked = true;
    bool rts_asked = true;
    // RFC 2217's defaults: every modem line told, no line state.
    uint8_t linestate_mask = 0;
    uint8_t modemstate_mask = 0xFF;
    // The last modem state told (bits 4 to 7), to tell only changes.
    uint8_t modem_told = 0;
    // FLOWCONTROL-SUSPEND: the client takes no data until it resumes.
    bool suspended = false;
};

// Starts a connection: queues the offers, binary transmission and
// suppressed go-ahead both ways.
void rfc2217_serve_start(Rfc2217Server& server, const Rfc2217Port& port);
// Takes the telnet commands out of the client's bytes, in place, applying
// and answering its requests; returns how many data bytes for the line
// are left at the front. Commands split across calls are joined; a
// subnegotiation longer than TelnetCodec::SB_MAX is dropped.
size_t rfc2217_serve_decode(Rfc2217Server& server, uint8_t* bytes, size_t count);
// The queued answers that fit in room, whole: due before the next data.
size_t rfc2217_serve_take(Rfc2217Server& server, uint8_t* dest, size_t room);
// Tells the client the modem lines (NOTIFY-MODEMSTATE) when they changed
// since last told, as far as its mask lets.
void rfc2217_serve_modem(Rfc2217Server& server);

// The line's bytes for the client's wire: 0xFF doubled, a byte wholly or
// not at all. Returns the bytes of in taken; *written the bytes of out used.
size_t rfc2217_encode(const uint8_t* in, size_t count, uint8_t* out, size_t room, size_t* written);

}  // namespace tolvane
