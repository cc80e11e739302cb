#include "base/session_log.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "base/console.h"
#include "base/console_platform.h"
#include "base/output_queue.h"

namespace tolvane {

namespace {

struct session_log {
    bool open = false;
    std::string path;
    output_queue queue;
    bool at_line_start = true;
};
session_log log;

// "2026-12-08 09:15:02", local time.
std::string now_text() {
    char when[32] = "";
    const std::time_t now = std::time(nullptr);
    if (const std::tm* tm = std::localtime(&now)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", tm);
    return when;
}

// A line of the log's own, on a line of its own.
void own_line(const std::string& text) {
    const std::string line = (log.at_line_start ? "" : "\n") + text + "\n";
    log.queue.append(line.data(), line.size());
    log.at_line_start = true;
}

}  // namespace

bool session_log_open(const char* path, const char* device) {
    bool ends_line = true;
    if (!log_file_open(path, &ends_line)) return false;
    log.open = true;
    log.path = path;
    // A run that ended in the middle of a line does not run into this one.
    log.at_line_start = ends_line;
    own_line("--- tolvane " + now_text() + " on " + device);
    session_log_send();
    return true;
}

void session_log_write(const char* bytes, size_t count) {
    if (!log.open || count == 0) return;
    log.queue.append(bytes, count);
    log.at_line_start = bytes[count - 1] == '\n';
}

void session_log_note(const char* text) {
    if (!log.open) return;
    own_line(std::string("--- ") + text);
    session_log_send();
}

void session_log_send() {
    if (!log.open || log.queue.send(log_file_write)) return;
    // Said once, on the console only: the log is let go first.
    const int error = errno;
    session_log_close();
    console_error("log: %s: %s\n", log.path.c_str(), std::strerror(error));
}

size_t session_log_pending() { return log.open ? log.queue.pending() : 0; }

void session_log_end() {
    if (!log.open) return;
    own_line("--- tolvane ended " + now_text());
    session_log_send();
}

void session_log_close() {
    if (!log.open) return;
    log.open = false;
    log.queue.drop();
    log_file_close();
}

}  // namespace tolvane
