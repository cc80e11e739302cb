#include "fileservice/wide_names-win32.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace tolvane {

TEST(Utf8Valid, TakesWellFormedUtf8Only) {
    const struct {
        const char* text;
        bool valid;
    } cases[] = {
        {"", true},
        {"plain.txt", true},
        {"\xC3\xA9t\xC3\xA9.txt", true},           // été.txt
        {"caf\xC3\xA9 \xE2\x9C\x93", true},          // café ✓
        {"\xF0\x9F\x98\x80", true},                  // U+1F600
        {"\xF4\x8F\xBF\xBF", true},                  // U+10FFFF
        {"\xE9t\xE9.txt", false},                    // été.txt in Windows-1252
        {"\xC3", false},                             // cut short
        {"\xE2\x9C", false},
        {"\x80", false},                             // a continuation alone
        {"\xC0\xAF", false},                         // overlong "/"
        {"\xE0\x80\xAF", false},
        {"\xED\xA0\x80", false},                     // a surrogate
        {"\xF4\x90\x80\x80", false},                 // beyond U+10FFFF
        {"\xF8\x88\x80\x80\x80", false},
        {"a\xC3\xA9\xFF", false},
    };
    for (const auto& c : cases) EXPECT_EQ(utf8_valid(c.text), c.valid) << c.text;
}

// UTF-8 where it is valid, else the system's ANSI code page, as before.
TEST(WideName, ReadsUtf8ElseTheAnsiCodePage) {
    EXPECT_EQ(wide_name("\xC3\xA9t\xC3\xA9.txt"), L"\x00E9t\x00E9.txt");
    EXPECT_EQ(wide_name("\xE2\x9C\x93"), L"\x2713");
    EXPECT_EQ(wide_name("\xF0\x9F\x98\x80"), L"\xD83D\xDE00");
    EXPECT_EQ(wide_name(""), L"");
    const char ansi[] = "\xE9t\xE9.txt";
    wchar_t expected[32] = {};
    ASSERT_GT(MultiByteToWideChar(legacy_ansi_code_page(), 0, ansi, -1, expected, 32), 0);
    EXPECT_EQ(wide_name(ansi), expected);
    EXPECT_NE(legacy_ansi_code_page(), unsigned{CP_UTF8}) << "a code page for the names that are not UTF-8";
}

TEST(Utf8Name, IsTheWideNameInUtf8) {
    for (const char* name : {"plain", "\xC3\xA9t\xC3\xA9.txt", "caf\xC3\xA9 \xE2\x9C\x93", "\xF0\x9F\x98\x80", ""})
        EXPECT_EQ(utf8_name(wide_name(name).c_str()), name);
}

}  // namespace tolvane
