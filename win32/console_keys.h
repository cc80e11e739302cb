// What a Windows console's key events put on the line: a character as its
// UTF-8 bytes, a key without one as _getch gives it (Esc, Shift-Tab, Alt-x,
// the arrows, F1...) or, with --keys vt, as a VT terminal sends it, and
// Ctrl-C events where they came among the keys.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <array>
#include <cstddef>
#include <string>

#include "base/settings.h"

namespace tolvane {

// The most bytes one key event gives: a VT sequence with a modifier
// (ESC [ 1 5 ; 5 ~ for Ctrl-F5).
constexpr size_t KEY_CODES_MAX = 8;

// The first half of a character beyond U+FFFF, which the console gives as
// two events (none when 0); the form of the keys without a character.
struct key_decoder {
    wchar_t high_surrogate = 0;
    key_form form = key_form::getch;
};

// The bytes one key event gives, into codes; returns how many (0 for a key
// that gives none, Shift alone, a key's release). A key without a
// character gives what _getch gives for it on Windows: one byte (Esc 0x1B,
// Ctrl-Z 0x1A) or two, 0x00 or 0xE0 and a code (F1 00 3B, Up E0 48,
// Shift-Tab 00 0F, Alt-x 00 2D, Ctrl-@ 00 03). With Alt alone a key gives
// its Alt code where _getch has one; Ctrl with Alt (AltGr) gives the
// character. DEL and the other control characters go as they come.
// With the vt form the arrows, Home, End, Insert, Delete, Page Up and Down
// and F1 to F12 give what xterm sends (Up ESC [ A, F5 ESC [ 1 5 ~, Ctrl-Up
// ESC [ 1 ; 5 A), Shift-Tab ESC [ Z, and Alt with a character ESC and it.
size_t console_key_codes(key_decoder* decoder, const KEY_EVENT_RECORD& key, unsigned char codes[KEY_CODES_MAX]);

// The keys of a run of console input records, in the order typed. Wine's
// console sends Ctrl-C as an event of its own rather than as a key: each is
// placed after the records that were waiting when it came.
class console_key_reader {
public:
    // The form of the keys read from now on.
    void use(key_form form) { decoder.form = form; }
    // A Ctrl-C event came while `waiting` records were not read yet.
    void ctrl_c_came(unsigned long waiting);
    // The keys of the next count records read, appended to keys, with the
    // Ctrl-Cs that came among and after them (count 0: those alone).
    void take(const INPUT_RECORD* records, size_t count, std::string* keys);

private:
    void ctrl_cs_up_to(unsigned long records, std::string* keys);

    key_decoder decoder;
    unsigned long records_read = 0;
    // Where the Ctrl-Cs not yet placed go: after this many records in all.
    std::array<unsigned long, 64> ctrl_c_at{};
    size_t ctrl_cs = 0;
};

}  // namespace tolvane
