#include "win32/console_keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvane {

namespace {

KEY_EVENT_RECORD key(wchar_t c, WORD virtual_key, DWORD state = 0) {
    KEY_EVENT_RECORD k{};
    k.bKeyDown = TRUE;
    k.wRepeatCount = 1;
    k.wVirtualKeyCode = virtual_key;
    k.uChar.UnicodeChar = c;
    k.dwControlKeyState = state;
    return k;
}

KEY_EVENT_RECORD released(KEY_EVENT_RECORD k) {
    k.bKeyDown = FALSE;
    return k;
}

std::string hex(const std::string& bytes) {
    std::string out;
    for (unsigned char b : bytes) {
        char two[4];
        std::snprintf(two, sizeof two, "%02X ", b);
        out += two;
    }
    return out;
}

// What a run of key events puts on the line, one decoder for all.
std::string codes_of(const std::vector<KEY_EVENT_RECORD>& keys, key_form form = key_form::getch) {
    key_decoder decoder;
    decoder.form = form;
    std::string out;
    for (const KEY_EVENT_RECORD& k : keys) {
        unsigned char codes[KEY_CODES_MAX];
        const size_t n = console_key_codes(&decoder, k, codes);
        out.append(reinterpret_cast<const char*>(codes), n);
    }
    return hex(out);
}

constexpr DWORD ALT = LEFT_ALT_PRESSED;
constexpr DWORD CTRL = LEFT_CTRL_PRESSED;
constexpr DWORD SHIFT = SHIFT_PRESSED;
constexpr DWORD ALT_GR = RIGHT_ALT_PRESSED | LEFT_CTRL_PRESSED;

}  // namespace

// The codes _getch gives: a character as it is (DEL and control bytes
// too), the keys without one as two codes, modifiers alone as nothing.
TEST(ConsoleKeyCodes, AreThoseGetchGives) {
    const struct {
        std::vector<KEY_EVENT_RECORD> keys;
        const char* codes;
    } cases[] = {
        {{key('a', 'A')}, "61 "},
        {{key(0x7F, VK_BACK)}, "7F "},
        {{key(0x03, 'C', LEFT_CTRL_PRESSED)}, "03 "},
        {{key(0x11, 'Q', RIGHT_CTRL_PRESSED)}, "11 "},
        {{key(0, VK_UP)}, "E0 48 "},
        {{key(0, VK_UP, SHIFT_PRESSED)}, "E0 48 "},
        {{key(0, VK_UP, LEFT_CTRL_PRESSED)}, "E0 8D "},
        {{key(0, VK_UP, LEFT_ALT_PRESSED)}, "00 98 "},
        {{key(0, VK_DELETE)}, "E0 53 "},
        {{key(0, VK_HOME, RIGHT_CTRL_PRESSED)}, "E0 77 "},
        {{key(0, VK_NEXT)}, "E0 51 "},
        {{key(0, VK_F1)}, "00 3B "},
        {{key(0, VK_F10, SHIFT_PRESSED)}, "00 5D "},
        {{key(0, VK_F5, LEFT_CTRL_PRESSED | SHIFT_PRESSED)}, "00 62 "},
        {{key(0, VK_F12)}, "E0 86 "},
        {{key(0, VK_F11, LEFT_ALT_PRESSED)}, "00 8B "},
        {{key(0, VK_SHIFT, SHIFT_PRESSED)}, ""},
        {{key(0, VK_CAPITAL)}, ""},
        // Keys Wine's console reports without their character.
        {{key(0, VK_ESCAPE)}, "1B "},
        {{key(0x1B, VK_ESCAPE)}, "1B "},
        {{key(0, 'Z', CTRL)}, "1A "},
        {{key(0x1A, 'Z', CTRL)}, "1A "},
        {{key(0, 'A', CTRL | SHIFT)}, "01 "},
        {{key(0, '2', CTRL | SHIFT)}, "00 03 "},  // Ctrl-@
        {{key(0, '6', CTRL | SHIFT)}, "1E "},     // Ctrl-^
        {{key(0, VK_OEM_MINUS, CTRL | SHIFT)}, "1F "},
        {{key(0, VK_OEM_4, CTRL)}, "1B "},
        {{key(0, VK_RETURN)}, "0D "},
        {{key(0, VK_RETURN, CTRL)}, "0A "},
        {{key(0, VK_BACK, CTRL)}, "7F "},
        // Keys _getch gives two codes for, whatever character comes with them.
        {{key(0x09, VK_TAB, SHIFT)}, "00 0F "},
        {{key(0x09, VK_TAB)}, "09 "},
        {{key(0, VK_TAB, CTRL)}, "00 94 "},
        // Alt alone: the Alt code, after 0x00.
        {{key('x', 'X', ALT)}, "00 2D "},
        {{key(0, 'X', ALT)}, "00 2D "},
        {{key('q', 'Q', ALT)}, "00 10 "},
        {{key('m', 'M', RIGHT_ALT_PRESSED)}, "00 32 "},
        {{key('1', '1', ALT)}, "00 78 "},
        {{key('0', '0', ALT)}, "00 81 "},
        {{key(0x1B, VK_ESCAPE, ALT)}, "00 01 "},
        {{key(0x0D, VK_RETURN, ALT)}, "00 1C "},
        {{key(0, VK_F1, ALT)}, "00 68 "},
        {{key('/', VK_OEM_2, ALT)}, "00 35 "},
        {{key(0x00E4, 0xDE, ALT)}, "00 28 "},  // the key of US quote, where a German ä is
        {{key(0x00E4, 0, ALT)}, "C3 A4 "},     // no Alt code: the character
        // AltGr (Ctrl and right Alt) gives the layout's character.
        {{key('@', 'Q', ALT_GR)}, "40 "},
        {{key(0x20AC, 'E', ALT_GR)}, "E2 82 AC "},
        // Characters as their UTF-8 bytes, those beyond U+FFFF from two events.
        {{key(0x00E4, 0xDE)}, "C3 A4 "},
        {{key(0x00E9, 0)}, "C3 A9 "},
        {{key(0x20AC, 0)}, "E2 82 AC "},
        {{key(0xD83D, 0), key(0xDE00, 0)}, "F0 9F 98 80 "},
        // A half without its other half gives nothing.
        {{key(0xDE00, 0)}, ""},
        {{key(0xD83D, 0), key('a', 'A')}, "61 "},
        {{key(0xD83D, 0), key(0xD83D, 0), key(0xDE00, 0)}, "F0 9F 98 80 "},
        // A character typed as an Alt code comes with Alt's release; other
        // releases give nothing.
        {{released(key(0x00E9, VK_MENU))}, "C3 A9 "},
        {{released(key('a', 'A'))}, ""},
        {{released(key(0, VK_MENU))}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(codes_of(c.keys), c.codes)
            << "virtual key " << c.keys[0].wVirtualKeyCode << ", character " << c.keys[0].uChar.UnicodeChar;
    }
}

// --keys vt: the keys without a character as xterm sends them, modifiers
// as ";M"; characters, Ctrl with letters and Enter as with getch.
TEST(ConsoleKeyCodes, VtFormIsWhatXtermSends) {
    const struct {
        KEY_EVENT_RECORD key;
        const char* codes;
    } cases[] = {
        {key(0, VK_UP), "1B 5B 41 "},
        {key(0, VK_DOWN), "1B 5B 42 "},
        {key(0, VK_RIGHT), "1B 5B 43 "},
        {key(0, VK_LEFT), "1B 5B 44 "},
        {key(0, VK_HOME), "1B 5B 48 "},
        {key(0, VK_END), "1B 5B 46 "},
        {key(0, VK_INSERT), "1B 5B 32 7E "},
        {key(0, VK_DELETE), "1B 5B 33 7E "},
        {key(0, VK_PRIOR), "1B 5B 35 7E "},
        {key(0, VK_NEXT), "1B 5B 36 7E "},
        {key(0, VK_F1), "1B 4F 50 "},
        {key(0, VK_F4), "1B 4F 53 "},
        {key(0, VK_F5), "1B 5B 31 35 7E "},
        {key(0, VK_F10), "1B 5B 32 31 7E "},
        {key(0, VK_F12), "1B 5B 32 34 7E "},
        {key(0, VK_UP, CTRL), "1B 5B 31 3B 35 41 "},
        {key(0, VK_LEFT, SHIFT), "1B 5B 31 3B 32 44 "},
        {key(0, VK_F1, SHIFT), "1B 5B 31 3B 32 50 "},
        {key(0, VK_DELETE, ALT), "1B 5B 33 3B 33 7E "},
        {key(0, VK_F12, CTRL | ALT | SHIFT), "1B 5B 32 34 3B 38 7E "},
        {key(0x09, VK_TAB, SHIFT), "1B 5B 5A "},
        {key('x', 'X', ALT), "1B 78 "},
        {key(0x00E4, 0xDE, ALT), "1B C3 A4 "},
        // As with getch.
        {key('a', 'A'), "61 "},
        {key(0x09, VK_TAB), "09 "},
        {key(0x03, 'C', CTRL), "03 "},
        {key(0, VK_ESCAPE), "1B "},
        {key(0, VK_RETURN), "0D "},
        {key(0x20AC, 'E', ALT_GR), "E2 82 AC "},
        {key(0, VK_SHIFT, SHIFT), ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(codes_of({c.key}, key_form::vt), c.codes)
            << "virtual key " << c.key.wVirtualKeyCode << ", state " << c.key.dwControlKeyState;
    }
}

namespace {

INPUT_RECORD record(wchar_t c, WORD virtual_key = 0, WORD repeat = 1) {
    INPUT_RECORD r{};
    r.EventType = KEY_EVENT;
    r.Event.KeyEvent = key(c, virtual_key);
    r.Event.KeyEvent.wRepeatCount = repeat;
    return r;
}

INPUT_RECORD focus_record() {
    INPUT_RECORD r{};
    r.EventType = FOCUS_EVENT;
    return r;
}

// One step of a console's input: records read, or a Ctrl-C event with that
// many records waiting.
struct step {
    std::vector<INPUT_RECORD> records;
    long ctrl_c_waiting;  // -1: records read
};

step read(std::vector<INPUT_RECORD> records) { return {std::move(records), -1}; }
step ctrl_c(long waiting) { return {{}, waiting}; }

}  // namespace

// Keys typed before a Ctrl-C event go out before it, those typed after it
// after it, however the reads fall; other records count but give nothing.
TEST(ConsoleKeyReader, PlacesCtrlCWhereItCame) {
    const struct {
        const char* what;
        std::vector<step> steps;
        const char* keys;
    } cases[] = {
        {"alone", {ctrl_c(0), read({})}, "03 "},
        {"after keys read", {read({record('a'), record('b')}), ctrl_c(0), read({})}, "61 62 03 "},
        {"after keys still waiting", {ctrl_c(2), read({record('a'), record('b')})}, "61 62 03 "},
        {"between keys of one read", {ctrl_c(1), read({record('a'), record('b')})}, "61 03 62 "},
        {"after keys of the next read", {ctrl_c(3), read({record('a'), record('b')}), read({record('c'), record('d')})},
         "61 62 63 03 64 "},
        {"two", {ctrl_c(1), ctrl_c(1), read({record('a'), record('b')})}, "61 03 03 62 "},
        {"counting other records", {ctrl_c(2), read({focus_record(), record('a'), record('b')})}, "61 03 62 "},
        {"after a repeated key", {ctrl_c(1), read({record('x', 'X', 3), record('y')})}, "78 78 78 03 79 "},
        {"a character of two events", {ctrl_c(2), read({record(0xD83D), record(0xDE00), record('z')})},
         "F0 9F 98 80 03 7A "},
    };
    for (const auto& c : cases) {
        console_key_reader reader;
        std::string keys;
        for (const step& s : c.steps) {
            if (s.ctrl_c_waiting >= 0)
                reader.ctrl_c_came(static_cast<unsigned long>(s.ctrl_c_waiting));
            else
                reader.take(s.records.data(), s.records.size(), &keys);
        }
        EXPECT_EQ(hex(keys), c.keys) << c.what;
    }
}

}  // namespace tolvane
