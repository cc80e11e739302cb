#include "terminal/display.h"


#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <regex>
#include <string>

using namespace tolvane;

namespace {

void use(unsigned maps, bool hex = false, stamp_format stamps = stamp_format::none) {
    view_settings settings;
    settings.maps = maps;
    settings.hex = hex;
    settings.stamps = stamps;
    display_start(settings);
}

// What the console shows for text that came in one read from the line.
std::string shown(const std::string& text) {
    display_read_arrived();
    std::string out;
    char bytes[DISPLAY_SHAPE_MAX];
    for (char c : text) out.append(bytes, display_shape(static_cast<unsigned char>(c), bytes));
    return out;
}

const std::string STAMP = "\\[[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}\\] ";

}  // namespace

TEST(Display, TextMapsAndHexView) {
    struct Case {
        unsigned maps;
        bool hex;
        std::string from_target, expected;
    } cases[] = {
        {MAP_INLCRNL, false, "a\r\nb\n", "a\r\r\nb\r\n"},
        {MAP_ICRNL, false, "a\rb\r\n", "a\nb\n\n"},
        {MAP_IGNCR | MAP_ICRNL, false, "a\r\n", "a\n"},         // a dropped CR is not turned into LF
        {MAP_ICRNL | MAP_INLCRNL, false, "a\rb\n", "a\r\nb\r\n"},  // CR turned LF is then shown as CR LF
        {MAP_OCRNL | MAP_ONLCRNL, false, "a\r\n", "a\r\n"},      // key maps leave the text alone
        {MAP_INLCRNL | MAP_IGNCR, true, std::string("\r\n\0\xff", 4), "0D 0A 00 FF "},
        {0, true, "0123456789abcdefg", "30 31 32 33 34 35 36 37 38 39 61 62 63 64 65 66 \n67 "},
    };
    for (const Case& c : cases) {
        use(c.maps, c.hex);
        EXPECT_EQ(shown(c.from_target), c.expected) << "maps " << c.maps;
    }
}

TEST(Display, KeyMaps) {
    struct Case {
        unsigned maps;
        int key;
        std::string sent;
    } cases[] = {
        {MAP_OCRNL, '\r', "\n"},
        {MAP_ONLCRNL, '\n', "\r\n"},
        {MAP_ONLCRNL, '\r', "\r"},
        {MAP_OCRNL | MAP_ONLCRNL, '\r', "\r\n"},
        {MAP_INLCRNL | MAP_ICRNL | MAP_IGNCR, '\r', "\r"},  // text maps leave the keys alone
    };
    for (const Case& c : cases) {
        use(c.maps);
        unsigned char bytes[DISPLAY_KEY_MAX];
        const size_t n = display_map_key(c.key, bytes);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), n), c.sent) << "maps " << c.maps << " key " << c.key;
    }
}

TEST(Display, ParsesFlagListsWhole) {
    unsigned maps = MAP_OCRNL;
    EXPECT_TRUE(display_parse_maps("INLCRNL,ignCR", &maps));
    EXPECT_EQ(maps, MAP_OCRNL | MAP_INLCRNL | MAP_IGNCR);
    for (const char* bad : {"", "ICRNL,", "ICRNL,BOGUS,IGNCR", "INLCRNLX"}) {
        EXPECT_FALSE(display_parse_maps(bad, &maps)) << bad;
        EXPECT_EQ(maps, MAP_OCRNL | MAP_INLCRNL | MAP_IGNCR) << "unchanged by " << bad;
    }
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
    using ms = std::chrono::milliseconds;
    struct Case {
        stamp_format format;
        std::chrono::system_clock::time_point wall;
        ms elapsed;
        std::string expected;
    } cases[] = {
        {stamp_format::time_of_day, wall, ms(0), "[09:15:02.123] "},
        {stamp_format::iso8601, wall, ms(0), "[2026-12-08T09:15:02.123] "},
        {stamp_format::time_of_day, wall + ms(1000), ms(0), "[09:15:03.123] "},  // not the second cached
        {stamp_format::since_start, wall, ms(3723004), "[01:02:03.004] "},
        {stamp_format::since_last_line, wall, ms(360000999), "[100:00:00.999] "},
    };
    for (const Case& c : cases) {
        char out[DISPLAY_SHAPE_MAX];
        EXPECT_EQ(std::string(out, display_format_stamp(c.format, c.wall, c.elapsed, out)), c.expected);
    }
}

// One stamp per line, before its first byte, however the line is split.
TEST(Display, EveryLineStartsWithOneStamp) {
    use(MAP_INLCRNL | MAP_IGNCR, false, stamp_format::time_of_day);
    std::string text;
    for (const char* read : {"one\ntw", "o\n", "\r", "\n", "x"}) text += shown(read);
    const std::regex lines(STAMP + "one\r\n" + STAMP + "two\r\n" + STAMP + "\r\n" + STAMP + "x");
    EXPECT_TRUE(std::regex_match(text, lines)) << text;
    use(0, true, stamp_format::time_of_day);
    const std::string hex = shown("0123456789abcdef");
    EXPECT_TRUE(std::regex_match(hex + shown("g"), std::regex(STAMP + "(3. ){10}(6. ){6}\n" + STAMP + "67 ")));
}

// The clock is read once per read from the line, not once per line.
TEST(Display, StampsReadTheClockOncePerRead) {
    const auto spin_ms = [](int ms) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until) {
        }
    };
    const auto stamp_ms = [](const std::string& line) {
        int h = 0, m = 0, s = 0, ms = -1;
        std::sscanf(line.c_str(), "[%d:%d:%d.%d] ", &h, &m, &s, &ms);
        return ((h * 60LL + m) * 60 + s) * 1000 + ms;
    };
    use(0, false, stamp_format::since_last_line);
    spin_ms(30);
    const long long first = stamp_ms(shown("a\n"));
    spin_ms(30);
    std::string same_read;
    char bytes[DISPLAY_SHAPE_MAX];
    for (char c : std::string("b\n")) same_read.append(bytes, display_shape(c, bytes));
    const long long next_read = stamp_ms(shown("c\n"));
    EXPECT_GE(first, 30) << "the first line counts from the start";
    EXPECT_EQ(stamp_ms(same_read), 0) << "no time between the lines of one read";
    EXPECT_GE(next_read, 30);
}
