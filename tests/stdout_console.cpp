// The console's platform side for unit tests: the program's output goes to
// standard output, where a test captures it; no log, nothing ever fails.
#include <cstdio>

#include "base/console_platform.h"

namespace tolvane {

const bool console_text_crlf = false;
long console_write_out(const unsigned char* bytes, size_t count) {
    return static_cast<long>(std::fwrite(bytes, 1, count, stdout));
}
size_t console_out_in_flight() { return 0; }
bool console_out_broken() { return false; }
void console_write_error(const char* text, size_t count) { std::fwrite(text, 1, count, stdout); }
bool log_file_open(const char*, bool*) { return false; }
long log_file_write(const unsigned char*, size_t count) { return static_cast<long>(count); }
void log_file_close() {}
void console_wait_writable(bool, bool, deadline) {}

}  // namespace tolvane
