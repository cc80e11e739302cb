// A reply's fields, straight into the line's output queue, as the target's
// codec reads them (link/link.h): numbers big-endian, data bytes escaped,
// a field cut short by a bare ETX.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/line.h"
#include "link/link.h"

namespace tolvane {

inline void reply_u16(line_state& line, uint32_t value) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
    line_put_data(line, bytes, sizeof bytes);
}

// A signed result (EOF, a character, an error) as its 16 bits.
inline void reply_s16(line_state& line, int value) { reply_u16(line, static_cast<uint32_t>(value) & 0xFFFF); }

inline void reply_u32(line_state& line, uint32_t value) {
    const unsigned char bytes[4] = {static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
                                    static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
    line_put_data(line, bytes, sizeof bytes);
}

inline void reply_data(line_state& line, const unsigned char* bytes, size_t count) { line_put_data(line, bytes, count); }

// The end of a field shorter than asked, or of a string; also the ready
// that answers an STX.
inline void reply_end(line_state& line) { line_put_raw(line, BYTE_ETX); }

}  // namespace tolvane
