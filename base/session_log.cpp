#include "base/session_log.h"

#include <cstdio>
#include <ctime>

namespace tolvane {

namespace {

std::FILE* log_file = nullptr;
bool at_line_start = true;

// "2026-12-08 09:15:02", local time.
void format_now(char (&when)[32]) {
    when[0] = '\0';
    const std::time_t now = std::time(nullptr);
    if (const std::tm* tm = std::localtime(&now)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", tm);
}

}  // namespace

bool session_log_open(const char* path, const char* device) {
    // Appending, and reading only to see how the last run ended.
    log_file = std::fopen(path, "a+b");
    if (log_file == nullptr) return false;
    // Unbuffered: every write reaches the kernel at once.
    std::setvbuf(log_file, nullptr, _IONBF, 0);
    at_line_start = std::fseek(log_file, -1, SEEK_END) != 0 || std::fgetc(log_file) == '\n';
    std::fseek(log_file, 0, SEEK_END);
    char when[32];
    format_now(when);
    // A run that ended in the middle of a line does not run into this one.
    std::fprintf(log_file, "%s--- tolvane %s on %s\n", at_line_start ? "" : "\n", when, device);
    at_line_start = true;
    return true;
}

void session_log_write(const char* bytes, size_t count) {
    if (log_file == nullptr || count == 0) return;
    std::fwrite(bytes, 1, count, log_file);
    at_line_start = bytes[count - 1] == '\n';
}

void session_log_note(const char* text) {
    if (log_file == nullptr) return;
    std::fprintf(log_file, "%s--- %s\n", at_line_start ? "" : "\n", text);
    at_line_start = true;
}

void session_log_end() {
    if (log_file == nullptr) return;
    char when[32];
    format_now(when);
    std::fprintf(log_file, "%s--- tolvane ended %s\n", at_line_start ? "" : "\n", when);
    std::fclose(log_file);
    log_file = nullptr;
}

}  // namespace tolvane
