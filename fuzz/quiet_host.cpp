// The console for the fuzz targets: nothing reaches the terminal or a
// file, but every message is still formatted (by the shared console_print),
// so the sanitizers check what the trace and the messages hand to printf.
#include <string>

#include "base/console.h"
#include "base/console_platform.h"
#include "base/host.h"
#include "base/session_log.h"

namespace tolvane {

void console_put(int) {}
void console_flush() {}
void console_set_raw(bool) {}
// console_print (base/console.cpp) has formatted the text already.
void console_show_text(std::string&) {}

// -l opens no file here: a fuzzed command line must not make files.
bool session_log_open(const char*, const char*) { return true; }
void session_log_write(const char*, size_t) {}
void session_log_note(const char*) {}
void session_log_end() {}

// Network lines are as the program has them.

}  // namespace tolvane
