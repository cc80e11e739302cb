// The console and the way out for the fuzz targets: nothing reaches the
// terminal or a file, but every message is still formatted (by the shared
// console_print), so the sanitizers check what the trace and the messages
// hand to printf.
#include <cstdio>
#include <cstdlib>
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

// The in-memory line never goes away, and nobody types Ctrl-Q.
bool host_request_cut() { return false; }
size_t host_line_room() { return 1u << 20; }
bool host_line_wait_room(int) { return true; }
void host_line_take_last_output() {}

// Only Ctrl-Q on the keyboard or a watched run's end ends the program, and
// neither comes here: reaching this is a fault of its own.
void host_end(int, int) {
    std::fputs("host_end reached without a keyboard or a watched run\n", stderr);
    std::abort();
}

}  // namespace tolvane
