// The console for the fuzz targets: nothing reaches the terminal or a
// file, but every message is still formatted and written (by the shared
// console_print, to /dev/null), so the sanitizers check what the trace and
// the messages hand to printf.
#include <cstdio>
#include <string>

#include "base/console.h"
#include "base/console_platform.h"
#include "base/session_log.h"

namespace tolvane {

void console_write_out(const unsigned char*, size_t) {}

namespace {
// The program's own text goes through stdio; here it goes nowhere.
const bool quiet = std::freopen("/dev/null", "w", stdout) != nullptr;
}  // namespace

// -l opens no file here: a fuzzed command line must not make files.
bool session_log_open(const char*, const char*) { return true; }
void session_log_write(const char*, size_t) {}
void session_log_note(const char*) {}
void session_log_end() {}

// Network lines are as the program has them.

}  // namespace tolvane
