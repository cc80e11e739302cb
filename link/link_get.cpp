// The receiving side of the codec, over link_get_raw: the target's (the
// host parses what it receives as it arrives, fileservice/rpc.h).
#include "link/link.h"

namespace tolvane {

int link_get() {
    int b = link_get_raw();
    if (b == BYTE_DLE) return link_get_raw();
    if (b == BYTE_STX || b == BYTE_ETX) return b | 0x100;
    return b;
}

int link_get_block(int n, unsigned char* buffer) {
    int count = 0;
    while (count < n) {
        int s = link_get();
        if (s == SYM_ETX || s < 0) break;
        buffer[count++] = static_cast<unsigned char>(s & 0xFF);
    }
    return count;
}

int link_get_string(char* buffer) {
    int count = link_get_block(LINK_STRING_MAX, reinterpret_cast<unsigned char*>(buffer));
    buffer[count] = '\0';
    return count;
}

int link_get_field(char* buffer, int size) {
    int count = 0;
    bool too_long = false;
    for (int s = link_get(); s != SYM_ETX && s >= 0; s = link_get()) {
        if (count < size - 1)
            buffer[count++] = static_cast<char>(s & 0xFF);
        else
            too_long = true;
    }
    buffer[count] = '\0';
    return too_long ? -1 : count;
}

uint16_t link_get_u16() {
    unsigned char b[2] = {0, 0};
    link_get_block(2, b);
    return static_cast<uint16_t>(b[0] << 8 | b[1]);
}

uint32_t link_get_u32() {
    unsigned char b[4] = {0, 0, 0, 0};
    link_get_block(4, b);
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

}  // namespace tolvane
