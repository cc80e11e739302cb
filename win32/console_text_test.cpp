#include "win32/console_text.h"

#include <gtest/gtest.h>

#include "base/console_platform.h"
#include "win32/console.h"

#include <string>

namespace tolvane {

namespace {

std::string utf16_hex(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        char four[8];
        std::snprintf(four, sizeof four, "%04X ", static_cast<unsigned>(c));
        out += four;
    }
    return out;
}

}  // namespace

// UTF-8 as its characters; any other byte as code page 437 has it; a
// sequence cut off by the block's end waits for the next, unless it is the
// last block.
TEST(ConsoleText, ShowsUtf8AndEveryOtherByteAsItsCodePageHasIt) {
    const console_text cp437(437);
    const struct {
        std::string bytes;
        bool last;
        size_t taken;
        std::wstring shown;
    } cases[] = {
        {"caf\xC3\xA9 \xE2\x9C\x93", false, 9, L"caf\u00E9 \u2713"},
        {"\x1B[31mred\x1B[0m\r\n", false, 14, L"\x1B[31mred\x1B[0m\r\n"},
        {"\xF0\x9F\x98\x80", false, 4, L"\xD83D\xDE00"},
        {"\xF4\x8F\xBF\xBF", false, 4, L"\xDBFF\xDFFF"},
        {"\x9A" "bertragung", false, 11, L"\u00DC" L"bertragung"},  // 437's U with diaeresis
        {"\xB3 \xB3", false, 3, L"\u2502 \u2502"},                    // a box's sides, in 437
        {"\xDA\xC4\xBF", false, 3, L"\u250C\u013F"},  // its top: the last two are UTF-8
        {"a\xC3", false, 1, L"a"},
        {"a\xE2\x9C", false, 1, L"a"},
        {"\xF0\x9F\x98", false, 0, L""},
        {"a\xC3", true, 2, L"a\u251C"},
        {"\xE2\x9C", true, 2, L"\u0393\u00A3"},
        {"\xC3(", false, 2, L"\u251C("},                           // no continuation
        {"\xC0\xAF", false, 2, L"\u2514\u00BB"},                   // too long a form
        {"\xE0\x80\x80", false, 3, L"\u03B1\u00C7\u00C7"},
        {"\xED\xA0\x80", false, 3, L"\u03C6\u00E1\u00C7"},         // a surrogate half
        {"\xF4\x90\x80\x80", false, 4, L"\u2320\u00C9\u00C7\u00C7"},  // beyond U+10FFFF
        {"\xFF\x80", false, 2, L"\u00A0\u00C7"},
        {"\xE2\x9C\x93\xE2", false, 3, L"\u2713"},
    };
    for (const auto& c : cases) {
        std::wstring shown;
        const size_t taken = cp437.convert(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size(),
                                           c.last, &shown);
        EXPECT_EQ(taken, c.taken) << c.bytes;
        EXPECT_EQ(utf16_hex(shown), utf16_hex(c.shown)) << c.bytes;
    }
}

namespace {

// The console's screen: the one the test runs in, else one of its own;
// null where neither works (Wine makes no console without a terminal).
HANDLE open_screen() {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const HANDLE screen = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD mode;
        if (screen != INVALID_HANDLE_VALUE && GetConsoleMode(screen, &mode)) return screen;
        if (screen != INVALID_HANDLE_VALUE) CloseHandle(screen);
        if (attempt == 0 && !AllocConsole()) break;
    }
    return nullptr;
}

}  // namespace

// The console is UTF-8 with virtual-terminal processing while the program
// writes to it, and as it was once given back; bytes written meanwhile go
// out whole, a character cut off by the last write shown at the end.
TEST(ConsoleSession, IsUtf8WhileTakenAndAsItWasAfter) {
    const HANDLE screen = open_screen();
    if (screen == nullptr) GTEST_SKIP() << "no console here";
    const HANDLE before = GetStdHandle(STD_OUTPUT_HANDLE);
    const UINT output_page = GetConsoleOutputCP();
    const UINT input_page = GetConsoleCP();
    SetConsoleOutputCP(437);
    SetConsoleCP(850);
    DWORD mode = 0;
    ASSERT_TRUE(GetConsoleMode(screen, &mode));
    SetConsoleMode(screen, mode & ~DWORD{ENABLE_VIRTUAL_TERMINAL_PROCESSING});
    SetStdHandle(STD_OUTPUT_HANDLE, screen);
    const std::wstring clear(80, L' ');
    DWORD written = 0;
    WriteConsoleOutputCharacterW(screen, clear.data(), static_cast<DWORD>(clear.size()), COORD{0, 0}, &written);
    SetConsoleCursorPosition(screen, COORD{0, 0});

    const std::string text = "caf\xC3\xA9 \xE2\x9C";
    EXPECT_EQ(console_write_out(reinterpret_cast<const unsigned char*>(text.data()), text.size()),
              static_cast<long>(text.size()));
    // A thread of its own writes it, as the program's ways out wait for.
    for (int ms = 0; console_out_in_flight() > 0 && ms < 2000; ++ms) Sleep(1);
    EXPECT_EQ(console_out_in_flight(), 0u);
    EXPECT_EQ(GetConsoleOutputCP(), static_cast<UINT>(CP_UTF8));
    EXPECT_EQ(GetConsoleCP(), static_cast<UINT>(CP_UTF8));
    ASSERT_TRUE(GetConsoleMode(screen, &mode));
    EXPECT_NE(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING, 0u);

    console_give_back();
    EXPECT_EQ(GetConsoleOutputCP(), 437u);
    EXPECT_EQ(GetConsoleCP(), 850u);
    ASSERT_TRUE(GetConsoleMode(screen, &mode));
    EXPECT_EQ(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING, 0u);
    wchar_t shown[16] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadConsoleOutputCharacterW(screen, shown, 7, COORD{0, 0}, &read));
    EXPECT_EQ(std::wstring(shown, read), L"caf\u00E9 \u0393\u00A3") << "the cut-off bytes in 437";

    SetStdHandle(STD_OUTPUT_HANDLE, before);
    SetConsoleOutputCP(output_page);
    SetConsoleCP(input_page);
    CloseHandle(screen);
}

}  // namespace tolvane
