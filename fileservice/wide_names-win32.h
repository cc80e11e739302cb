// Names for the wide calls of Windows (_wfopen, CreateFileW...): a name
// that is valid UTF-8 is read as UTF-8, any other as the system's ANSI code
// page, as Windows read every name before UTF-8; names the system gives
// back go out in UTF-8.
#pragma once

#include <string>

namespace tolvane {

// Well-formed UTF-8: no stray or missing continuation bytes, no overlong
// forms, no surrogates, nothing beyond U+10FFFF.
bool utf8_valid(const char* text);

// The name as Windows' wide calls take it.
std::wstring wide_name(const char* name);
// A name from the system in UTF-8.
std::string utf8_name(const wchar_t* name);

// The ANSI code page of the system's locale, whatever code page this
// program runs with (its manifest asks for UTF-8).
unsigned legacy_ansi_code_page();

}  // namespace tolvane
