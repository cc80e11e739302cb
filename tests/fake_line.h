// An in-memory line for unit tests: link_get_raw takes from `incoming`,
// link_put_raw appends to `sent`. Reading past the end yields ETX and marks
// an underrun, so a faulty reader ends instead of hanging.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fake_line {

using Bytes = std::vector<uint8_t>;

void reset(const Bytes& incoming = {});
const Bytes& sent();
std::size_t unread();  // incoming bytes not taken yet
bool underrun();

}  // namespace fake_line
