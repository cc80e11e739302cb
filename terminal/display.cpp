#include "terminal/display.h"

#include <cctype>
#include <cstring>
#include <ctime>

namespace tolvane {

bool display_text_as_is = true;

namespace {

using wall_clock = std::chrono::system_clock;
using steady_clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr unsigned TEXT_MAPS = MAP_INLCRNL | MAP_ICRNL | MAP_IGNCR;
constexpr int HEX_PER_LINE = 16;
constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

struct map_name {
    const char* name;
    unsigned flag;
};
constexpr map_name MAP_NAMES[] = {
    {"INLCRNL", MAP_INLCRNL}, {"ICRNL", MAP_ICRNL},     {"IGNCR", MAP_IGNCR},
    {"OCRNL", MAP_OCRNL},     {"ONLCRNL", MAP_ONLCRNL},
};

struct format_name {
    const char* name;
    stamp_format format;
};
constexpr format_name FORMAT_NAMES[] = {
    {"24hour", stamp_format::time_of_day},
    {"24hour-start", stamp_format::since_start},
    {"24hour-delta", stamp_format::since_last_line},
    {"iso8601", stamp_format::iso8601},
};

struct view {
    view_settings settings;
    // Where the text shown stands: a stamp is due before the next byte shown.
    bool at_line_start = true;
    int hex_in_line = 0;

    // The clock is read once per read from the line: every line that
    // begins in the bytes of one read began when they arrived.
    steady_clock::time_point started;
    steady_clock::time_point last_line_began;
    bool clock_read = false;  // for the bytes of the last read
    wall_clock::time_point wall_now;
    steady_clock::time_point steady_now;

    // The local date and time of one second, formatted once for all the
    // stamps within that second.
    std::time_t cached_second = 0;
    stamp_format cached_format = stamp_format::none;
    char cached_text[32];
    size_t cached_length = 0;
};
view v;

bool shows_local_time(stamp_format format) {
    return format == stamp_format::time_of_day || format == stamp_format::iso8601;
}

bool same_ignoring_case(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (b[i] == '\0' || std::toupper(static_cast<unsigned char>(a[i])) != b[i]) return false;
    }
    return b[length] == '\0';
}

// Writes value with at least width digits; returns the position after.
char* put_number(char* p, long long value, int width) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    while (n < width) digits[n++] = '0';
    while (n > 0) *p++ = digits[--n];
    return p;
}

char* put_local_second(char* p, stamp_format format, std::time_t second) {
    if (v.cached_length == 0 || second != v.cached_second || format != v.cached_format) {
        std::tm fields{};
        if (const std::tm* local = std::localtime(&second)) fields = *local;
        const char* pattern = format == stamp_format::iso8601 ? "%Y-%m-%dT%H:%M:%S" : "%H:%M:%S";
        v.cached_length = std::strftime(v.cached_text, sizeof v.cached_text, pattern, &fields);
        v.cached_second = second;
        v.cached_format = format;
    }
    std::memcpy(p, v.cached_text, v.cached_length);
    return p + v.cached_length;
}

void read_clock_once_per_read() {
    if (v.clock_read) return;
    v.clock_read = true;
    if (shows_local_time(v.settings.stamps))
        v.wall_now = wall_clock::now();
    else
        v.steady_now = steady_clock::now();
}

size_t put_stamp(char* out) {
    read_clock_once_per_read();
    milliseconds elapsed{0};
    if (v.settings.stamps == stamp_format::since_start) {
        elapsed = std::chrono::duration_cast<milliseconds>(v.steady_now - v.started);
    } else if (v.settings.stamps == stamp_format::since_last_line) {
        elapsed = std::chrono::duration_cast<milliseconds>(v.steady_now - v.last_line_began);
        v.last_line_began = v.steady_now;
    }
    return display_format_stamp(v.settings.stamps, v.wall_now, elapsed, out);
}

}  // namespace

bool display_parse_maps(const char* text, unsigned* maps) {
    unsigned found = 0;
    for (const char* p = text;;) {
        const char* comma = std::strchr(p, ',');
        const size_t length = comma ? static_cast<size_t>(comma - p) : std::strlen(p);
        unsigned flag = 0;
        for (const map_name& m : MAP_NAMES) {
            if (same_ignoring_case(p, m.name, length)) flag = m.flag;
        }
        if (flag == 0) return false;
        found |= flag;
        if (comma == nullptr) break;
        p = comma + 1;
    }
    *maps |= found;
    return true;
}

bool display_parse_stamp_format(const char* name, stamp_format* format) {
    for (const format_name& f : FORMAT_NAMES) {
        if (std::strcmp(name, f.name) == 0) {
            *format = f.format;
            return true;
        }
    }
    return false;
}

void display_read_arrived() { v.clock_read = false; }

void display_start(const view_settings& settings) {
    v.started = steady_clock::now();
    v.last_line_began = v.started;
    v.clock_read = false;
    display_change(settings);
}

std::string display_describe(const view_settings& settings) {
    std::string maps;
    for (const map_name& m : MAP_NAMES)
        if (settings.maps & m.flag) maps += std::string(maps.empty() ? "" : ",") + m.name;
    std::string stamps = "off";
    for (const format_name& f : FORMAT_NAMES)
        if (settings.stamps == f.format) stamps = f.name;
    return "maps " + (maps.empty() ? std::string("none") : maps) + ", timestamps " + stamps + ", hex view " +
           (settings.hex ? "on" : "off") + ", local echo " + (settings.local_echo ? "on" : "off");
}

void display_change(const view_settings& settings) {
    v.settings = settings;
    v.at_line_start = true;
    v.hex_in_line = 0;
    display_text_as_is = !v.settings.hex && v.settings.stamps == stamp_format::none && (v.settings.maps & TEXT_MAPS) == 0;
}

size_t display_format_stamp(stamp_format format, wall_clock::time_point wall, milliseconds elapsed, char* out) {
    char* p = out;
    *p++ = '[';
    long long ms;
    if (shows_local_time(format)) {
        ms = std::chrono::duration_cast<milliseconds>(wall.time_since_epoch()).count();
        long long second = ms / 1000;
        ms %= 1000;
        if (ms < 0) {
            ms += 1000;
            --second;
        }
        p = put_local_second(p, format, static_cast<std::time_t>(second));
    } else {
        ms = elapsed.count() > 0 ? elapsed.count() : 0;
        const long long seconds = ms / 1000;
        ms %= 1000;
        p = put_number(p, seconds / 3600, 2);
        *p++ = ':';
        p = put_number(p, seconds / 60 % 60, 2);
        *p++ = ':';
        p = put_number(p, seconds % 60, 2);
    }
    *p++ = '.';
    p = put_number(p, ms, 3);
    *p++ = ']';
    *p++ = ' ';
    return static_cast<size_t>(p - out);
}

size_t display_shape(int byte, char* out) {
    char* p = out;
    unsigned char b = static_cast<unsigned char>(byte);
    const bool stamped = v.settings.stamps != stamp_format::none;
    // The hex view shows every byte as it came; the text maps are for text.
    if (v.settings.hex) {
        if (v.hex_in_line == 0 && stamped) p += put_stamp(p);
        *p++ = HEX_DIGITS[b >> 4];
        *p++ = HEX_DIGITS[b & 0x0F];
        *p++ = ' ';
        if (++v.hex_in_line == HEX_PER_LINE) {
            v.hex_in_line = 0;
            for (const char* end = console_line_end(); *end; ++end) *p++ = *end;
        }
        return static_cast<size_t>(p - out);
    }
    if (b == '\r') {
        if (v.settings.maps & MAP_IGNCR) return 0;
        if (v.settings.maps & MAP_ICRNL) b = '\n';
    }
    if (v.at_line_start && stamped) p += put_stamp(p);
    v.at_line_start = b == '\n';
    if (b == '\n' && (v.settings.maps & MAP_INLCRNL)) *p++ = '\r';
    *p++ = static_cast<char>(b);
    return static_cast<size_t>(p - out);
}

void display_shaped_text(int byte) {
    // Most bytes are text within a line, shown as they are.
    if (!v.at_line_start && !v.settings.hex && byte != '\r' && byte != '\n') {
        console_put(byte);
        return;
    }
    char out[DISPLAY_SHAPE_MAX];
    const size_t n = display_shape(byte, out);
    for (size_t i = 0; i < n; ++i) console_put(static_cast<unsigned char>(out[i]));
}

const view_settings& display_settings() { return v.settings; }

size_t display_map_key(int key, unsigned char* out) {
    unsigned char k = static_cast<unsigned char>(key);
    size_t n = 0;
    // Both: Enter sends CR LF.
    if (k == '\r' && (v.settings.maps & MAP_OCRNL)) k = '\n';
    if (k == '\n' && (v.settings.maps & MAP_ONLCRNL)) out[n++] = '\r';
    out[n++] = k;
    return n;
}

}  // namespace tolvane
