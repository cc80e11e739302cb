// How the console shows the target's text and the keys typed: line-end
// maps, time stamps, a hex view and local echo. Only text passes here;
// file-service frames never do, and nothing here changes a byte on the
// line except the key maps the user asked for.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "base/console.h"
#include "base/settings.h"

namespace tolvane {

// "INLCRNL,IGNCR" (either case): adds the flags to *maps. False, and
// *maps unchanged, when a flag is unknown.
bool display_parse_maps(const char* text, unsigned* maps);
// "24hour", "24hour-start", "24hour-delta" or "iso8601".
bool display_parse_stamp_format(const char* name, stamp_format* format);

// Takes the settings for the session and starts its clock: call it before
// the line gives its first byte.
void display_start(const view_settings& settings);
// The settings in force.
const view_settings& display_settings();
// The settings as the command keys show them: "maps INLCRNL,OCRNL,
// timestamps 24hour, hex view off, local echo on".
std::string display_describe(const view_settings& settings);
// New settings mid-session (the command keys), the console at the start
// of a line: the next byte of text starts a line, a hex line starts afresh.
void display_change(const view_settings& settings);
// The bytes shown from now on came in a read of their own: their stamps
// read the clock again.
void display_read_arrived();

// The most one byte of the target's can become on the console: a stamp,
// three hex characters and a line end.
constexpr size_t DISPLAY_SHAPE_MAX = 64;
// What a byte of the target's text becomes: maps, stamp, hex. Writes at
// most DISPLAY_SHAPE_MAX bytes to out and returns their count.
size_t display_shape(int byte, char* out);
void display_shaped_text(int byte);

// True while the target's text goes to the console as it is.
extern bool display_text_as_is;

// A byte of the target's text, to the console as the settings say.
inline void display_text(int byte) {
    if (display_text_as_is)
        console_put(byte);
    else
        display_shaped_text(byte);
}

// The bytes a key goes to the line as, after OCRNL and ONLCRNL (one or two).
constexpr size_t DISPLAY_KEY_MAX = 2;
size_t display_map_key(int key, unsigned char* out);

// A stamp's text, "[...] ", for a line that began at wall (the two local
// time formats) or after elapsed (the other two). Writes at most
// DISPLAY_SHAPE_MAX - 8 bytes; returns their count.
size_t display_format_stamp(stamp_format format, std::chrono::system_clock::time_point wall,
                            std::chrono::milliseconds elapsed, char* out);

}  // namespace tolvane
