#include "fileservice/wide_names-win32.h"

#include <windows.h>

#include <cstring>

namespace tolvane {

bool utf8_valid(const char* text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        const unsigned char b = *p;
        if (b < 0x80) {
            ++p;
            continue;
        }
        size_t more;
        unsigned long c;
        unsigned long least;
        if (b >= 0xC2 && b <= 0xDF) more = 1, c = b & 0x1F, least = 0x80;
        else if (b >= 0xE0 && b <= 0xEF) more = 2, c = b & 0x0F, least = 0x800;
        else if (b >= 0xF0 && b <= 0xF4) more = 3, c = b & 0x07, least = 0x10000;
        else return false;
        for (size_t i = 1; i <= more; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;  // the NUL too
            c = c << 6 | (p[i] & 0x3F);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        p += more + 1;
    }
    return true;
}

unsigned legacy_ansi_code_page() {
    DWORD page = 0;
    const int got = GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                                   reinterpret_cast<wchar_t*>(&page), sizeof page / sizeof(wchar_t));
    return got > 0 && page != 0 ? page : CP_ACP;
}

std::wstring wide_name(const char* name) {
    const int length = static_cast<int>(std::strlen(name));
    if (length == 0) return L"";
    const UINT page = utf8_valid(name) ? CP_UTF8 : legacy_ansi_code_page();
    const int size = MultiByteToWideChar(page, 0, name, length, nullptr, 0);
    if (size <= 0) return L"";
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(page, 0, name, length, &wide[0], size);
    return wide;
}

std::string utf8_name(const wchar_t* name) {
    const int length = static_cast<int>(std::wcslen(name));
    if (length == 0) return "";
    const int size = WideCharToMultiByte(CP_UTF8, 0, name, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return "";
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, name, length, &text[0], size, nullptr, nullptr);
    return text;
}

}  // namespace tolvane
