// The link's data bytes a block at a time, for the file service's bulk
// fields: escaped for the link and the wire in one pass on the way out,
// DLE pairs decoded up to the field's bare ETX on the way in. Byte for
// byte what link/link.cpp does one call per byte.
#pragma once

#include <cstddef>

namespace tolvane {

// A transport that doubles no byte on the wire (see line_transport.h).
constexpr int NO_DOUBLED_BYTE = -1;

// Escapes data bytes into out, at most room bytes: DLE before STX, ETX and
// DLE, and the byte the wire doubles (telnet's 0xFF) twice. A byte goes
// wholly or not at all. Returns the bytes of in taken; *written is set to
// the bytes of out used.
size_t block_escape(const unsigned char* in, size_t count, int doubled, unsigned char* out, size_t room,
                    size_t* written);

// Decodes one field's data as it arrives, in as many pieces as it comes in:
// DLE and the byte after it are that byte (a DLE at the end of one piece
// takes the first byte of the next), a bare ETX ends the field, and every
// other byte, a stray bare STX too, is itself.
struct block_decoder {
    bool after_dle = false;
    bool ended = false;  // the bare ETX came
};

// Decodes from in until the field ends, count bytes are used or room bytes
// are stored in out; a DLE is only taken while out has room for its byte.
// Returns the bytes of in used (the ETX among them); *stored is set to the
// bytes of out filled.
size_t block_decode(block_decoder* decoder, const unsigned char* in, size_t count, unsigned char* out, size_t room,
                    size_t* stored);

}  // namespace tolvane
