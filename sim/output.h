// Text from the board to its serial console. Everything goes through the
// link's escaping, so a file holding 0x02 can be shown without starting a
// request on the host.
#pragma once

#include <cstddef>

namespace sim {

void put_text(const char* text);
// File contents: each LF goes out as CR LF, as a raw terminal needs.
// Returns whether the last byte was an LF (so the caller can end the line).
bool put_file_bytes(const char* data, std::size_t count);
// A formatted line ended by CR LF.
void put_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace sim
