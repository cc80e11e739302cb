// How the console shows the target's text and the keys typed: line-end
// maps, time stamps, a hex view and local echo. Only text passes here;
// file-service frames never do, and nothing here changes a byte on the
// line except the key maps the user asked for.
#pragma once

#include <chrono>
#include <cstddef>

#include "base/console.h"

namespace tolvane {

// --map flags. The first three change how the target's text is shown, the
// last two what a key sends.
enum : unsigned {
    MAP_INLCRNL = 1u << 0,  // LF from the target shown as CR LF
    MAP_ICRNL = 1u << 1,    // CR from the target shown as LF
    MAP_IGNCR = 1u << 2,    // CR from the target not shown
    MAP_OCRNL = 1u << 3,    // Enter (CR) sends LF
    MAP_ONLCRNL = 1u << 4,  // LF typed is sent as CR LF
};

// -t, --timestamp=FORMAT: what the stamp before each line of text shows.
enum class stamp_format {
    none,
    time_of_day,      // 24hour: [HH:MM:SS.mmm], local time
    since_start,      // 24hour-start: time since the program started
    since_last_line,  // 24hour-delta: time since the previous line began
    iso8601,          // iso8601: [YYYY-MM-DDTHH:MM:SS.mmm], local time
};

extern unsigned display_maps;
extern stamp_format display_stamps;
extern bool display_hex;         // --hex
extern bool display_local_echo;  // --local-echo

// "INLCRNL,IGNCR" (either case): adds the flags to *maps. False, and
// *maps unchanged, when a flag is unknown.
bool display_parse_maps(const char* text, unsigned* maps);
// "24hour", "24hour-start", "24hour-delta" or "iso8601".
bool display_parse_stamp_format(const char* name, stamp_format* format);

// Takes the settings above for the session and starts its clock: call it
// once they are made, before the line gives its first byte.
void display_start();

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
