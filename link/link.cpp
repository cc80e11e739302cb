// The sending side of the codec: what the target sends. The host queues
// its replies into its own line by the same rules.
#include "link/link.h"

namespace tolvane {

void link_put(int symbol) {
    if (symbol & 0x100) {
        link_put_raw(symbol & 0xFF);
        return;
    }
    symbol &= 0xFF;
    if (symbol == BYTE_STX || symbol == BYTE_ETX || symbol == BYTE_DLE) link_put_raw(BYTE_DLE);
    link_put_raw(symbol);
}

void link_put_block(int n, const unsigned char* bytes) {
    for (int i = 0; i < n; ++i) link_put(bytes[i]);
}

void link_put_text(const char* text) {
    // The compiler's strlen: firmware may have no C library headers.
    link_put_block(static_cast<int>(__builtin_strlen(text)), reinterpret_cast<const unsigned char*>(text));
    link_put(SYM_ETX);
}

void link_put_u16(uint32_t value) {
    link_put((value >> 8) & 0xFF);
    link_put(value & 0xFF);
}

void link_put_u32(uint32_t value) {
    link_put((value >> 24) & 0xFF);
    link_put((value >> 16) & 0xFF);
    link_put((value >> 8) & 0xFF);
    link_put(value & 0xFF);
}

}  // namespace tolvane
