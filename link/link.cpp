#include "link/link.h"

namespace tolvane {

int link_get() {
    int b = link_get_raw();
    if (b == BYTE_DLE) return link_get_raw();
    if (b == BYTE_STX || b == BYTE_ETX) return b | 0x100;
    return b;
}

void link_put(int symbol) {
    if (symbol & 0x100) {
        link_put_raw(symbol & 0xFF);
        return;
    }
    symbol &= 0xFF;
    if (symbol == BYTE_STX || symbol == BYTE_ETX || symbol == BYTE_DLE) link_put_raw(BYTE_DLE);
    link_put_raw(symbol);
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

void link_put_block(int n, const unsigned char* bytes) {
    for (int i = 0; i < n; ++i) link_put(bytes[i]);
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

void link_put_text(const char* text) {
    // The compiler's strlen: firmware may have no C library headers.
    link_put_block(static_cast<int>(__builtin_strlen(text)), reinterpret_cast<const unsigned char*>(text));
    link_put(SYM_ETX);
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
