#include "win32/console_text.h"

#include <windows.h>

namespace tolvane {

namespace {

bool continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// How long the sequence a lead byte starts is (0: no lead byte), and the
// range its second byte must lie in, so that no character is encoded too
// long, no surrogate half is and none lies beyond U+10FFFF.
size_t sequence_length(unsigned char lead, unsigned char* low, unsigned char* high) {
    *low = 0x80;
    *high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (lead == 0xE0) *low = 0xA0;
        if (lead == 0xED) *high = 0x9F;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (lead == 0xF0) *low = 0x90;
        if (lead == 0xF4) *high = 0x8F;
        return 4;
    }
    return 0;
}

void put_code_point(unsigned long c, std::wstring* text) {
    if (c < 0x10000) {
        text->push_back(static_cast<wchar_t>(c));
        return;
    }
    c -= 0x10000;
    text->push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
    text->push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
}

}  // namespace

console_text::console_text(unsigned fallback_page) {
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        wchar_t c = static_cast<wchar_t>(b);
        if (b >= 0x80 && MultiByteToWideChar(fallback_page, 0, &byte, 1, &c, 1) != 1) c = 0xFFFD;
        fallback[b] = c;
    }
}

size_t console_text::convert(const unsigned char* bytes, size_t count, bool last, std::wstring* text) const {
    size_t at = 0;
    while (at < count) {
        const unsigned char lead = bytes[at];
        if (lead < 0x80) {
            text->push_back(static_cast<wchar_t>(lead));
            ++at;
            continue;
        }
        unsigned char low, high;
        const size_t length = sequence_length(lead, &low, &high);
        // The bytes there that still fit the sequence.
        size_t fitting = length == 0 ? 0 : 1;
        while (fitting > 0 && fitting < length && at + fitting < count) {
            const unsigned char b = bytes[at + fitting];
            const bool fits = fitting == 1 ? b >= low && b <= high : continuation(b);
            if (!fits) break;
            ++fitting;
        }
        if (fitting > 0 && fitting == length) {
            unsigned long c = lead & (0xFF >> (length + 1));
            for (size_t i = 1; i < length; ++i) c = (c << 6) | (bytes[at + i] & 0x3F);
            put_code_point(c, text);
            at += length;
        } else if (fitting > 0 && at + fitting == count && !last) {
            break;  // the rest of it comes with the next block
        } else {
            text->push_back(fallback[lead]);
            ++at;
        }
    }
    return at;
}

}  // namespace tolvane
