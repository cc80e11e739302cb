#include "terminal/display.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <regex>
#include <string>

using namespace tolvane;

namespace {

void use(unsigned maps, bool hex = false, stamp_format stamps = stamp_format::none) {
    display_maps = maps;
    display_hex = hex;
    display_stamps = stamps;
    display_start();
}

// What the console shows for text, given as one read from the line.
std::string shown(const std::string& text) {
    ++console_line_reads;
    std::string out;
    char bytes[DISPLAY_SHAPE_MAX];
    for (char c : text) out.append(bytes, display_shape(static_cast<unsigned char>(c), bytes));
    return out;
}

// The milliseconds a "[HH:MM:SS.mmm] " stamp of elapsed time shows.
long long stamp_ms(const std::string& stamp) {
    int h, m, s, ms;
    if (std::sscanf(stamp.c_str(), "[%d:%d:%d.%d] ", &h, &m, &s, &ms) != 4) return -1;
    return ((h * 60LL + m) * 60 + s) * 1000 + ms;
}

void spin_ms(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
    }
}

}  // namespace

TEST(Display, TextMapsChangeOnlyLineEnds) {
    struct Case {
        unsigned maps;
        std::string from_target, expected;
    } cases[] = {
        {0, "one\ntwo\n", "one\ntwo\n"},
        {MAP_INLCRNL, "one\ntwo\n", "one\r\ntwo\r\n"},
        {MAP_INLCRNL, "a\r\n", "a\r\r\n"},
        {MAP_ICRNL, "a\rb\r\n", "a\nb\n\n"},
        {MAP_IGNCR, "a\r\nb\r", "a\nb"},
        {MAP_IGNCR | MAP_ICRNL, "a\r\n", "a\n"},                   // a dropped CR is not turned into LF
        {MAP_ICRNL | MAP_INLCRNL, "a\rb\n", "a\r\nb\r\n"},         // CR turned LF is then shown as CR LF
        {MAP_OCRNL | MAP_ONLCRNL, "a\r\n", "a\r\n"},               // the key maps leave text alone
        {MAP_INLCRNL, std::string("\0\x7f\x80\xff\n", 5), std::string("\0\x7f\x80\xff\r\n", 6)},
    };
    for (const Case& c : cases) {
        use(c.maps);
        EXPECT_EQ(display_text_as_is, (c.maps & (MAP_INLCRNL | MAP_ICRNL | MAP_IGNCR)) == 0);
        EXPECT_EQ(shown(c.from_target), c.expected) << "maps " << c.maps;
    }
}

TEST(Display, HexShowsEveryByteSixteenToALine) {
    struct Case {
        unsigned maps;
        std::string from_target, expected;
    } cases[] = {
        {0, "AB\r\n", "41 42 0D 0A "},
        {MAP_INLCRNL | MAP_IGNCR, "AB\r\n", "41 42 0D 0A "},  // bytes as they came, maps or not
        {0, std::string("\0\x0c\x10\xff", 4), "00 0C 10 FF "},
        {0, "0123456789abcdefg", "30 31 32 33 34 35 36 37 38 39 61 62 63 64 65 66 \n67 "},
    };
    for (const Case& c : cases) {
        use(c.maps, true);
        EXPECT_FALSE(display_text_as_is);
        EXPECT_EQ(shown(c.from_target), c.expected);
    }
}

TEST(Display, KeyMaps) {
    struct Case {
        unsigned maps;
        int key;
        std::string sent;
    } cases[] = {
        {0, '\r', "\r"},
        {0, '\n', "\n"},
        {MAP_OCRNL, '\r', "\n"},
        {MAP_OCRNL, '\n', "\n"},
        {MAP_ONLCRNL, '\n', "\r\n"},
        {MAP_ONLCRNL, '\r', "\r"},
        {MAP_OCRNL | MAP_ONLCRNL, '\r', "\r\n"},
        {MAP_INLCRNL | MAP_ICRNL | MAP_IGNCR, '\r', "\r"},  // the text maps leave keys alone
        {MAP_OCRNL | MAP_ONLCRNL, 0xFF, "\xff"},
    };
    for (const Case& c : cases) {
        use(c.maps);
        unsigned char bytes[DISPLAY_KEY_MAX];
        const size_t n = display_map_key(c.key, bytes);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), n), c.sent) << "maps " << c.maps << " key " << c.key;
    }
}

TEST(Display, ParsesMapFlagsAndFormats) {
    unsigned maps = MAP_OCRNL;
    std::string unknown;
    EXPECT_TRUE(display_parse_maps("INLCRNL,ignCR", &maps, &unknown));
    EXPECT_EQ(maps, MAP_OCRNL | MAP_INLCRNL | MAP_IGNCR);
    for (const char* bad : {"INLCR", "", "ICRNL,", "ICRNL,BOGUS", "INLCRNLX", ",ICRNL"}) {
        unsigned before = maps;
        EXPECT_FALSE(display_parse_maps(bad, &maps, &unknown)) << bad;
        EXPECT_EQ(maps, before) << bad;
    }
    EXPECT_FALSE(display_parse_maps("ICRNL,BOGUS,IGNCR", &maps, &unknown));
    EXPECT_EQ(unknown, "BOGUS");

    stamp_format format = stamp_format::none;
    const std::pair<const char*, stamp_format> names[] = {{"24hour", stamp_format::time_of_day},
                                                          {"24hour-start", stamp_format::since_start},
                                                          {"24hour-delta", stamp_format::since_last_line},
                                                          {"iso8601", stamp_format::iso8601}};
    for (const auto& name : names) {
        EXPECT_TRUE(display_parse_stamp_format(name.first, &format));
        EXPECT_EQ(format, name.second);
    }
    for (const char* bad : {"", "24HOUR", "24hour-", "iso"}) EXPECT_FALSE(display_parse_stamp_format(bad, &format));
}

TEST(Display, StampFormats) {
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 8;
    local.tm_hour = 9;
    local.tm_min = 15;
    local.tm_sec = 2;
    local.tm_isdst = -1;
    const auto wall = std::chrono::system_clock::from_time_t(std::mktime(&local)) + std::chrono::milliseconds(123);
    const auto later = wall + std::chrono::milliseconds(1000);  // the next second, not the one cached
    using ms = std::chrono::milliseconds;
    struct Case {
        stamp_format format;
        std::chrono::system_clock::time_point wall;
        ms elapsed;
        std::string expected;
    } cases[] = {
        {stamp_format::time_of_day, wall, ms(0), "[09:15:02.123] "},
        {stamp_format::iso8601, wall, ms(0), "[2026-12-08T09:15:02.123] "},
        {stamp_format::time_of_day, later, ms(0), "[09:15:03.123] "},
        {stamp_format::since_start, wall, ms(0), "[00:00:00.000] "},
        {stamp_format::since_start, wall, ms(3723004), "[01:02:03.004] "},
        {stamp_format::since_last_line, wall, ms(360000999), "[100:00:00.999] "},
        {stamp_format::since_last_line, wall, ms(-5), "[00:00:00.000] "},
    };
    for (const Case& c : cases) {
        char out[DISPLAY_SHAPE_MAX];
        EXPECT_EQ(std::string(out, display_format_stamp(c.format, c.wall, c.elapsed, out)), c.expected);
    }
}

// A line is stamped once, before its first byte, however it is split.
TEST(Display, EveryLineStartsWithOneStamp) {
    const std::string stamp = "\\[[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}\\] ";
    use(MAP_INLCRNL, false, stamp_format::time_of_day);
    std::string text;
    for (const char* read : {"one\ntw", "o\n", "\n", "x"}) text += shown(read);
    EXPECT_TRUE(std::regex_match(text, std::regex(stamp + "one\r\n" + stamp + "two\r\n" + stamp + "\r\n" + stamp + "x")))
        << text;

    use(MAP_IGNCR, false, stamp_format::since_start);
    EXPECT_EQ(shown("\r"), "") << "nothing shown, nothing stamped";
    EXPECT_TRUE(std::regex_match(shown("\r\n"), std::regex(stamp + "\n")));

    use(0, true, stamp_format::time_of_day);
    const std::string hex = shown("0123456789abcdef");
    EXPECT_TRUE(std::regex_match(hex + shown("gh"), std::regex(stamp + "(3. ){10}(6. ){6}\n" + stamp + "67 68 ")));
}

// The clock is read once per read from the line, not once per line.
TEST(Display, StampsTakeTheClockOncePerRead) {
    for (stamp_format format : {stamp_format::since_start, stamp_format::since_last_line}) {
        use(0, false, format);
        spin_ms(30);
        ++console_line_reads;
        std::string out;
        char bytes[DISPLAY_SHAPE_MAX];
        const auto line = [&](const char* text) {
            out.clear();
            for (const char* p = text; *p; ++p) out.append(bytes, display_shape(*p, bytes));
            return stamp_ms(out);
        };
        const long long first = line("a\n");
        spin_ms(30);
        const long long same_read = line("b\n");
        ++console_line_reads;
        const long long next_read = line("c\n");
        if (format == stamp_format::since_start) {
            EXPECT_GE(first, 30);
            EXPECT_EQ(same_read, first) << "the second line came in the same read";
            EXPECT_GE(next_read, first + 30);
        } else {
            EXPECT_GE(first, 30) << "the first line counts from the start";
            EXPECT_EQ(same_read, 0) << "no time between lines of one read";
            EXPECT_GE(next_read, 30);
        }
    }
}
