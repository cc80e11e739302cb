#include "net/net_line.h"

#include <algorithm>
#include <cstring>

#include "base/line_transport.h"

namespace tolvane {

size_t net_line::take_early(unsigned char* buffer, size_t size) {
    const size_t n = std::min(size, early_held());
    if (n == 0) return 0;
    std::memcpy(buffer, early.data() + early_next, n);
    early_next += n;
    return n;
}

int net_line::doubled_byte() const { return telnet ? telnet::IAC : NO_DOUBLED_BYTE; }

}  // namespace tolvane
