#include "win32/console.h"

#include <gtest/gtest.h>

#include <string>

namespace tolvane {

namespace {

KEY_EVENT_RECORD key(char c, WORD virtual_key, DWORD state = 0) {
    KEY_EVENT_RECORD k{};
    k.bKeyDown = TRUE;
    k.wRepeatCount = 1;
    k.wVirtualKeyCode = virtual_key;
    k.uChar.AsciiChar = c;
    k.dwControlKeyState = state;
    return k;
}

std::string codes_of(const KEY_EVENT_RECORD& k) {
    unsigned char codes[2];
    const size_t n = console_key_codes(k, codes);
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", codes[i]);
        out += hex;
    }
    return out;
}

}  // namespace

// The codes _getch gives: a character as it is (DEL and control bytes
// too), the keys without one as two codes, modifiers alone as nothing.
TEST(ConsoleKeyCodes, AreThoseGetchGives) {
    const struct {
        KEY_EVENT_RECORD key;
        const char* codes;
    } cases[] = {
        {key('a', 'A'), "61 "},
        {key(0x7F, VK_BACK), "7F "},
        {key(0x03, 'C', LEFT_CTRL_PRESSED), "03 "},
        {key(0x11, 'Q', RIGHT_CTRL_PRESSED), "11 "},
        {key('\xE4', 0xDE), "E4 "},
        {key(0, VK_UP), "E0 48 "},
        {key(0, VK_UP, SHIFT_PRESSED), "E0 48 "},
        {key(0, VK_UP, LEFT_CTRL_PRESSED), "E0 8D "},
        {key(0, VK_UP, LEFT_ALT_PRESSED), "00 98 "},
        {key(0, VK_DELETE), "E0 53 "},
        {key(0, VK_HOME, RIGHT_CTRL_PRESSED), "E0 77 "},
        {key(0, VK_NEXT), "E0 51 "},
        {key(0, VK_F1), "00 3B "},
        {key(0, VK_F10, SHIFT_PRESSED), "00 5D "},
        {key(0, VK_F5, LEFT_CTRL_PRESSED | SHIFT_PRESSED), "00 62 "},
        {key(0, VK_F12), "E0 86 "},
        {key(0, VK_F11, LEFT_ALT_PRESSED), "00 8B "},
        {key(0, VK_SHIFT, SHIFT_PRESSED), ""},
        {key(0, VK_CAPITAL), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(codes_of(c.key), c.codes) << "virtual key " << c.key.wVirtualKeyCode;
}

}  // namespace tolvane
