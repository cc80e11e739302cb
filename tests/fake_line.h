// An in-memory line for unit tests: link_get_raw takes from `incoming`,
// link_put_raw appends to `sent`. Reading past the end yields ETX and marks
// an underrun, so a faulty reader ends instead of hanging; after
// reset_no_host it yields -1 instead, as a client's line does once the
// host has stayed silent past its deadline.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fake_line {

using Bytes = std::vector<uint8_t>;

void reset(const Bytes& incoming = {});
void reset_no_host(const Bytes& incoming = {});
const Bytes& sent();
std::size_t unread();  // incoming bytes not taken yet
bool underrun();
int reads_past_end();

}  // namespace fake_line
