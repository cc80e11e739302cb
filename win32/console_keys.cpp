#include "win32/console_keys.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tolvane {

namespace {

constexpr char KEY_CTRL_C = 0x03;

// A key as _getch gives it: one byte (second 0), or two, lead 0x00 or
// 0xE0 and a code; none when both are 0.
struct getch_code {
    unsigned char lead, second;
};

struct key_row {
    WORD virtual_key;
    getch_code normal, shift, ctrl, alt;
};

// The keys whose codes _getch has in its own tables, as Windows consoles
// report them (a US layout for the punctuation). Letters and digits follow
// a rule (alt_code, ctrl_code).
constexpr key_row KEY_ROWS[] = {
    {VK_ESCAPE, {27, 0}, {27, 0}, {27, 0}, {0, 0x01}},
    {VK_BACK, {8, 0}, {8, 0}, {127, 0}, {0, 0x0E}},
    {VK_TAB, {9, 0}, {0, 0x0F}, {0, 0x94}, {0, 0xA5}},
    {VK_RETURN, {13, 0}, {13, 0}, {10, 0}, {0, 0x1C}},
    {VK_SPACE, {32, 0}, {32, 0}, {32, 0}, {32, 0}},
    {VK_HOME, {0xE0, 0x47}, {0xE0, 0x47}, {0xE0, 0x77}, {0, 0x97}},
    {VK_UP, {0xE0, 0x48}, {0xE0, 0x48}, {0xE0, 0x8D}, {0, 0x98}},
    {VK_PRIOR, {0xE0, 0x49}, {0xE0, 0x49}, {0xE0, 0x86}, {0, 0x99}},
    {VK_LEFT, {0xE0, 0x4B}, {0xE0, 0x4B}, {0xE0, 0x73}, {0, 0x9B}},
    {VK_RIGHT, {0xE0, 0x4D}, {0xE0, 0x4D}, {0xE0, 0x74}, {0, 0x9D}},
    {VK_END, {0xE0, 0x4F}, {0xE0, 0x4F}, {0xE0, 0x75}, {0, 0x9F}},
    {VK_DOWN, {0xE0, 0x50}, {0xE0, 0x50}, {0xE0, 0x91}, {0, 0xA0}},
    {VK_NEXT, {0xE0, 0x51}, {0xE0, 0x51}, {0xE0, 0x76}, {0, 0xA1}},
    {VK_INSERT, {0xE0, 0x52}, {0xE0, 0x52}, {0xE0, 0x92}, {0, 0xA2}},
    {VK_DELETE, {0xE0, 0x53}, {0xE0, 0x53}, {0xE0, 0x93}, {0, 0xA3}},
    {VK_F1, {0, 0x3B}, {0, 0x54}, {0, 0x5E}, {0, 0x68}},
    {VK_F2, {0, 0x3C}, {0, 0x55}, {0, 0x5F}, {0, 0x69}},
    {VK_F3, {0, 0x3D}, {0, 0x56}, {0, 0x60}, {0, 0x6A}},
    {VK_F4, {0, 0x3E}, {0, 0x57}, {0, 0x61}, {0, 0x6B}},
    {VK_F5, {0, 0x3F}, {0, 0x58}, {0, 0x62}, {0, 0x6C}},
    {VK_F6, {0, 0x40}, {0, 0x59}, {0, 0x63}, {0, 0x6D}},
    {VK_F7, {0, 0x41}, {0, 0x5A}, {0, 0x64}, {0, 0x6E}},
    {VK_F8, {0, 0x42}, {0, 0x5B}, {0, 0x65}, {0, 0x6F}},
    {VK_F9, {0, 0x43}, {0, 0x5C}, {0, 0x66}, {0, 0x70}},
    {VK_F10, {0, 0x44}, {0, 0x5D}, {0, 0x67}, {0, 0x71}},
    {VK_F11, {0xE0, 0x85}, {0xE0, 0x87}, {0xE0, 0x89}, {0, 0x8B}},
    {VK_F12, {0xE0, 0x86}, {0xE0, 0x88}, {0xE0, 0x8A}, {0, 0x8C}},
    {VK_OEM_MINUS, {0, 0}, {0, 0}, {31, 0}, {0, 0x82}},
    {VK_OEM_PLUS, {0, 0}, {0, 0}, {0, 0}, {0, 0x83}},
    {VK_OEM_4, {0, 0}, {0, 0}, {27, 0}, {0, 0x1A}},  // [
    {VK_OEM_6, {0, 0}, {0, 0}, {29, 0}, {0, 0x1B}},  // ]
    {VK_OEM_5, {0, 0}, {0, 0}, {28, 0}, {0, 0x2B}},  // backslash
    {VK_OEM_1, {0, 0}, {0, 0}, {0, 0}, {0, 0x27}},   // ;
    {VK_OEM_7, {0, 0}, {0, 0}, {0, 0}, {0, 0x28}},   // '
    {VK_OEM_3, {0, 0}, {0, 0}, {0, 0}, {0, 0x29}},   // `
    {VK_OEM_COMMA, {0, 0}, {0, 0}, {0, 0}, {0, 0x33}},
    {VK_OEM_PERIOD, {0, 0}, {0, 0}, {0, 0}, {0, 0x34}},
    {VK_OEM_2, {0, 0}, {0, 0}, {0, 0}, {0, 0x35}},  // /
};

// The scan codes of the letter keys, row by row, which Alt gives after 0x00.
constexpr struct {
    const char* letters;
    unsigned char first_scan;
} LETTER_ROWS[] = {{"QWERTYUIOP", 0x10}, {"ASDFGHJKL", 0x1E}, {"ZXCVBNM", 0x2C}};

getch_code alt_code(WORD virtual_key) {
    if (virtual_key >= '1' && virtual_key <= '9') return {0, static_cast<unsigned char>(0x78 + virtual_key - '1')};
    if (virtual_key == '0') return {0, 0x81};
    if (virtual_key < 'A' || virtual_key > 'Z') return {0, 0};
    for (const auto& row : LETTER_ROWS) {
        const char* at = std::strchr(row.letters, static_cast<char>(virtual_key));
        if (at != nullptr) return {0, static_cast<unsigned char>(row.first_scan + (at - row.letters))};
    }
    return {0, 0};
}

// Ctrl with a letter is its control byte; Ctrl-2 is Ctrl-@ (00 03) and
// Ctrl-6 Ctrl-^.
getch_code ctrl_code(WORD virtual_key) {
    if (virtual_key >= 'A' && virtual_key <= 'Z') return {static_cast<unsigned char>(virtual_key - 'A' + 1), 0};
    if (virtual_key == '2') return {0, 0x03};
    if (virtual_key == '6') return {30, 0};
    return {0, 0};
}

getch_code code_for(WORD virtual_key, bool alt, bool ctrl, bool shift) {
    for (const key_row& row : KEY_ROWS) {
        if (row.virtual_key == virtual_key) return alt ? row.alt : ctrl ? row.ctrl : shift ? row.shift : row.normal;
    }
    if (alt) return alt_code(virtual_key);
    return ctrl ? ctrl_code(virtual_key) : getch_code{0, 0};
}

size_t put_code(getch_code code, unsigned char* codes) {
    codes[0] = code.lead;
    if (code.second == 0) return 1;
    codes[1] = code.second;
    return 2;
}

size_t put_utf8(unsigned long c, unsigned char* codes) {
    if (c < 0x80) {
        codes[0] = static_cast<unsigned char>(c);
        return 1;
    }
    if (c < 0x800) {
        codes[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
        codes[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        codes[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
        codes[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        codes[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 3;
    }
    codes[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
    codes[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
    codes[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    codes[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    return 4;
}

// A character's UTF-8; the halves of one beyond U+FFFF come one per event,
// and a half without its other half gives nothing.
size_t put_character(key_decoder* decoder, wchar_t c, unsigned char* codes) {
    const wchar_t high = decoder->high_surrogate;
    decoder->high_surrogate = 0;
    if (c >= 0xD800 && c <= 0xDBFF) {
        decoder->high_surrogate = c;
        return 0;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) {
        if (high == 0) return 0;
        return put_utf8(0x10000 + ((static_cast<unsigned long>(high) - 0xD800) << 10) + (c - 0xDC00), codes);
    }
    return put_utf8(c, codes);
}

// A key as xterm sends it: ESC [ and the final letter (ESC O for F1 to F4
// without a modifier), or ESC [, a number and ~; a modifier goes in as
// ";M" before the end, M being 1 + Shift 1 + Alt 2 + Ctrl 4.
struct vt_key {
    WORD virtual_key;
    unsigned char number;  // before ~; 0: the final letter alone
    char final;
};

constexpr vt_key VT_KEYS[] = {
    {VK_UP, 0, 'A'},     {VK_DOWN, 0, 'B'},   {VK_RIGHT, 0, 'C'},  {VK_LEFT, 0, 'D'},   {VK_HOME, 0, 'H'},
    {VK_END, 0, 'F'},    {VK_INSERT, 2, '~'}, {VK_DELETE, 3, '~'}, {VK_PRIOR, 5, '~'},  {VK_NEXT, 6, '~'},
    {VK_F1, 0, 'P'},     {VK_F2, 0, 'Q'},     {VK_F3, 0, 'R'},     {VK_F4, 0, 'S'},     {VK_F5, 15, '~'},
    {VK_F6, 17, '~'},    {VK_F7, 18, '~'},    {VK_F8, 19, '~'},    {VK_F9, 20, '~'},    {VK_F10, 21, '~'},
    {VK_F11, 23, '~'},   {VK_F12, 24, '~'},
};

size_t put_vt(const vt_key& key, int modifier, unsigned char* codes) {
    char text[KEY_CODES_MAX + 1];
    const bool f1_to_f4 = key.virtual_key >= VK_F1 && key.virtual_key <= VK_F4;
    int n;
    if (modifier == 1 && key.number == 0)
        n = std::snprintf(text, sizeof text, "\x1b%c%c", f1_to_f4 ? 'O' : '[', key.final);
    else if (modifier == 1)
        n = std::snprintf(text, sizeof text, "\x1b[%d~", key.number);
    else
        n = std::snprintf(text, sizeof text, "\x1b[%d;%d%c", key.number == 0 ? 1 : key.number, modifier, key.final);
    if (n <= 0 || n > static_cast<int>(KEY_CODES_MAX)) return 0;
    std::memcpy(codes, text, static_cast<size_t>(n));
    return static_cast<size_t>(n);
}

// The keys the vt form gives otherwise than _getch; 0 for the others.
size_t vt_codes(key_decoder* decoder, const KEY_EVENT_RECORD& key, bool alt, bool ctrl, bool shift,
                unsigned char* codes) {
    const int modifier = 1 + (shift ? 1 : 0) + (alt ? 2 : 0) + (ctrl ? 4 : 0);
    for (const vt_key& vt : VT_KEYS)
        if (vt.virtual_key == key.wVirtualKeyCode) return put_vt(vt, modifier, codes);
    const wchar_t c = key.uChar.UnicodeChar;
    if (key.wVirtualKeyCode == VK_TAB && shift && !alt && !ctrl) {
        std::memcpy(codes, "\x1b[Z", 3);
        return 3;
    }
    if (alt && !ctrl && c != 0) {
        codes[0] = 0x1B;
        const size_t n = put_character(decoder, c, codes + 1);
        return n == 0 ? 0 : n + 1;
    }
    return 0;
}

}  // namespace

size_t console_key_codes(key_decoder* decoder, const KEY_EVENT_RECORD& key, unsigned char codes[KEY_CODES_MAX]) {
    const wchar_t c = key.uChar.UnicodeChar;
    // A character typed as an Alt code on the keypad comes with Alt's release.
    if (!key.bKeyDown) return key.wVirtualKeyCode == VK_MENU && c != 0 ? put_character(decoder, c, codes) : 0;
    const DWORD state = key.dwControlKeyState;
    const bool alt = state & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED);
    const bool ctrl = state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED);
    const bool shift = state & SHIFT_PRESSED;
    if (decoder->form == key_form::vt) {
        const size_t n = vt_codes(decoder, key, alt, ctrl, shift, codes);
        if (n > 0 || (alt && !ctrl && c != 0)) return n;
    }
    if (!(alt && ctrl && c != 0)) {  // AltGr gives its character
        const getch_code code = code_for(key.wVirtualKeyCode, alt, ctrl, shift);
        // The console's character wins, unless the key is one _getch gives
        // two codes for, or Alt is held.
        const bool has_code = code.lead != 0 || code.second != 0;
        if (has_code && (c == 0 || alt || code.second != 0)) return put_code(code, codes);
    }
    return c == 0 ? 0 : put_character(decoder, c, codes);
}

void console_key_reader::ctrl_c_came(unsigned long waiting) {
    if (ctrl_cs < ctrl_c_at.size()) ctrl_c_at[ctrl_cs++] = records_read + waiting;
}

void console_key_reader::ctrl_cs_up_to(unsigned long records, std::string* keys) {
    size_t placed = 0;
    while (placed < ctrl_cs && ctrl_c_at[placed] <= records) ++placed;
    keys->append(placed, KEY_CTRL_C);
    std::copy(ctrl_c_at.begin() + placed, ctrl_c_at.begin() + ctrl_cs, ctrl_c_at.begin());
    ctrl_cs -= placed;
}

void console_key_reader::take(const INPUT_RECORD* records, size_t count, std::string* keys) {
    for (size_t i = 0; i < count; ++i) {
        ctrl_cs_up_to(records_read, keys);
        ++records_read;
        if (records[i].EventType != KEY_EVENT) continue;
        const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
        unsigned char codes[KEY_CODES_MAX];
        const size_t n = console_key_codes(&decoder, key, codes);
        for (WORD r = 0; r < std::max<WORD>(key.wRepeatCount, 1); ++r)
            keys->append(reinterpret_cast<const char*>(codes), n);
    }
    ctrl_cs_up_to(records_read, keys);
}

}  // namespace tolvane
