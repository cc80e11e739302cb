// tolvane-win: the entry, behind a guard for the C run-time's argument checks.
#include <windows.h>

#include <cstdint>
#include <cstdlib>

#include "app/entry.h"

namespace {

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

}  // namespace

int main(int argc, char* argv[]) {
    guard_c_runtime();
    return tolvane::entry(argc, argv);
}
