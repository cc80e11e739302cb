// tolvane-win: the entry, behind a guard for the C run-time's argument
// checks, with the arguments in UTF-8 and room for the target's streams.
#include <windows.h>

#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/entry.h"
#include "fileservice/wide_names-win32.h"

namespace {

// The most streams msvcrt.dll holds open at once (512 unless told): about
// as many as tolvane's target can hold on POSIX.
constexpr int STREAMS_MAX = 2048;

// The run-time ends the program when a call gets an argument it does not
// take, such as an fopen mode or an fseek origin the target sent. With this
// handler the call just fails, and the target gets the failure as its answer.
void ignore_invalid_parameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t) {}

using set_handler_call = _invalid_parameter_handler(__cdecl*)(_invalid_parameter_handler);

void guard_c_runtime() {
    // MinGW's own _set_invalid_parameter_handler only keeps the pointer; the
    // handler that counts is the one inside msvcrt.dll, where it has one.
    _set_invalid_parameter_handler(ignore_invalid_parameter);
    HMODULE crt = GetModuleHandleA("msvcrt.dll");
    if (crt == nullptr) return;
    auto set_handler = reinterpret_cast<set_handler_call>(
        reinterpret_cast<void*>(GetProcAddress(crt, "_set_invalid_parameter_handler")));
    if (set_handler) set_handler(ignore_invalid_parameter);
}

// The manifest makes the arguments UTF-8 where Windows reads it (1903 on,
// Wine); elsewhere they are made from the wide command line.
bool utf8_arguments(std::vector<std::string>* words) {
    if (GetACP() == CP_UTF8) return false;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return false;
    for (int i = 0; i < count; ++i) words->push_back(tolvane::utf8_name(wide[i]));
    LocalFree(wide);
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    guard_c_runtime();
    _setmaxstdio(STREAMS_MAX);
    std::vector<std::string> words;
    if (!utf8_arguments(&words)) return tolvane::entry(argc, argv);
    std::vector<char*> utf8_argv;
    for (std::string& word : words) utf8_argv.push_back(&word[0]);
    utf8_argv.push_back(nullptr);
    return tolvane::entry(static_cast<int>(words.size()), utf8_argv.data());
}
