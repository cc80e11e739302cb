// The serial line's framing and field codec.
//
// One byte stream carries terminal text and file-service traffic. STX (0x02)
// starts a request, ETX (0x03) ends a variable-length field or tells that the
// host is ready, and DLE (0x10) makes the next byte plain data.
#pragma once

#include <stdint.h>  // the compiler's own: firmware builds have no C++ library

namespace tolvane {

// Link symbols: 0x00..0xFF are data bytes; bit 0x100 marks an unescaped frame
// mark whose low 8 bits are the byte on the wire.
constexpr int SYM_STX = 0x102;
constexpr int SYM_ETX = 0x103;

constexpr int BYTE_STX = 0x02;
constexpr int BYTE_ETX = 0x03;
constexpr int BYTE_DLE = 0x10;

// Longest string field a receiver keeps; its buffer needs one more for NUL.
constexpr int LINK_STRING_MAX = 79;

// The two raw operations on the line. They are bound at link time: each
// program links the line of its platform, unit tests link a fake line.
// C linkage, so that firmware written in C can supply them.
extern "C" {
// Waits for the next byte and returns 0..255. A client may return -1 to say
// that the host is not there (the host programs never do).
int link_get_raw(void);
void link_put_raw(int byte);  // sends one byte
}

int link_get();                // next symbol, DLE pairs decoded; -1 as raw
void link_put(int symbol);     // escapes data 0x02, 0x03, 0x10

// Reads symbols until n bytes are stored or SYM_ETX arrives (consumed, not
// stored) or the line gives -1. Any other symbol is stored as its low 8
// bits. Returns the count.
int link_get_block(int n, unsigned char* buffer);
void link_put_block(int n, const unsigned char* bytes);

// Reads at most LINK_STRING_MAX bytes and a NUL into buffer (80 bytes).
int link_get_string(char* buffer);
// Reads a string field to its ETX (or until the line gives -1), keeping at
// most size - 1 bytes and a NUL. Returns the count, or -1 when the field
// held more than that: it is then wholly consumed, so the stream stays in
// step, and the caller must not act on it.
int link_get_field(char* buffer, int size);
void link_put_text(const char* text);  // its bytes, then SYM_ETX

// Numbers travel big-endian. Bytes missing because an ETX cut the field
// short count as zero.
uint16_t link_get_u16();
uint32_t link_get_u32();
void link_put_u16(uint32_t value);
void link_put_u32(uint32_t value);

}  // namespace tolvane
