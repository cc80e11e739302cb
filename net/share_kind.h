// What a --share client speaks, as a codec between its socket and the
// board: raw (unix:, tcp:) passes the bytes as they are; another kind
// (rfc2217:) decodes its commands out of what the client sends, answers
// them, and encodes the board's bytes for its wire (IAC doubled). No
// sockets here: the share (terminal/share.h) moves the bytes.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "net/rfc2217_server.h"  // Rfc2217Port
#include "net/url.h"

namespace tolvane {

class share_codec {
public:
    virtual ~share_codec() = default;
    // What the client sent: data for the board appended to to_board, the
    // kind's own answers for the client to reply. Called with what one
    // read brought, in any pieces; the codec keeps a command cut in two.
    virtual void decode(const unsigned char* bytes, size_t count, std::string* to_board, std::string* reply) = 0;
    // The board's bytes as this client's wire carries them, appended.
    virtual void encode(const unsigned char* bytes, size_t count, std::string* wire) = 0;
    // Sent once to a client that just joined (a telnet offer); appended.
    virtual void greet(std::string* wire) { (void)wire; }
};

// A fresh codec for one client of that kind; null for a kind this build
// does not have. An rfc2217 client acts on the line through line_port
// (the live line's is net/rfc2217_line.h; none: it is only looked at).
std::unique_ptr<share_codec> share_codec_make(share_kind kind, const Rfc2217Port& line_port = Rfc2217Port{});

}  // namespace tolvane
