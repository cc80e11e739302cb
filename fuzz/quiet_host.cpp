// The console for the fuzz targets: nothing reaches the terminal or a
// file, but every message is still formatted and written (by the shared
// console_print, to /dev/null), so the sanitizers check what the trace and
// the messages hand to printf.
#include <cstdio>
#include <string>

#include "base/child.h"
#include "base/console.h"
#include "base/console_platform.h"
#include "base/session_log.h"
#include "base/wait.h"
#include "net/endpoint.h"

namespace tolvane {

const bool console_text_crlf = false;
long console_write_out(const unsigned char*, size_t count) { return static_cast<long>(count); }
size_t console_out_in_flight() { return 0; }
bool console_out_broken() { return false; }
void console_write_error(const char*, size_t) {}
extern const unsigned char KEYBOARD_BACKSPACE;
const unsigned char KEYBOARD_BACKSPACE = 0x7F;
void console_wait_writable(bool, bool, deadline) {}
// Keys never come from a terminal here: the target's exit status ends the run.
bool keyboard_is_terminal() { return false; }

namespace {
// The program's own text goes through stdio; here it goes nowhere.
const bool quiet = std::freopen("/dev/null", "w", stdout) != nullptr;
}  // namespace

// -l opens no file here: a fuzzed command line must not make files.
bool log_file_open(const char*, bool* ends_line) { return *ends_line = true; }
long log_file_write(const unsigned char*, size_t count) { return static_cast<long>(count); }
void log_file_close() {}

// Network lines are as the program has them.

// No sockets, files or programs of the share, the events or a lend: a
// fuzzed command line must make none.
listener* listener_open(const share_address&, std::string* why) {
    *why = "not here";
    return nullptr;
}
endpoint* listener_accept(listener*) { return nullptr; }
void listener_close(listener*) {}
void listener_add_waits(listener*, wait_set*) {}
bool listener_ready(const listener*, const wait_set&) { return false; }
endpoint* endpoint_open_file(const std::string&, std::string* why) {
    *why = "not here";
    return nullptr;
}
endpoint* endpoint_connect(const share_address&, int, std::string* why) {
    *why = "not here";
    return nullptr;
}
bool endpoint_wait_input(endpoint*, int) { return false; }
long endpoint_read(endpoint*, unsigned char*, size_t) { return ENDPOINT_GONE; }
long endpoint_write(endpoint*, const unsigned char*, size_t) { return ENDPOINT_GONE; }
void endpoint_close(endpoint*) {}
void endpoint_add_waits(endpoint*, wait_set*, bool, bool) {}
bool endpoint_ready(const endpoint*, const wait_set&) { return false; }
bool endpoint_readable(const endpoint*, const wait_set&) { return false; }
child* child_start(const std::vector<std::string>&, const std::string&, std::string* why) {
    *why = "not here";
    return nullptr;
}
child* child_start_shell(const std::string&, const std::string&, std::string* why) {
    *why = "not here";
    return nullptr;
}
bool child_ended(child*, int* status) { return *status = 0, true; }

}  // namespace tolvane
