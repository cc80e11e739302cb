// -l FILE: a copy of what the console shows, the target's bytes and the
// program's own text alike, appended to FILE as it comes. Nothing is held
// back in the program, so a kill loses nothing the console had shown. The
// program's own lines end in LF here, whatever the console needs.
#pragma once

#include <cstddef>

namespace tolvane {

// Opens FILE for appending (never truncating) and writes the run's first
// line, "--- tolvane DATE TIME on DEVICE". False, with errno set, when FILE
// cannot be opened.
bool session_log_open(const char* path, const char* device);
void session_log_write(const char* bytes, size_t count);
// A line of the log's own, such as "--- line lost"; not shown on the console.
void session_log_note(const char* text);
// The run's last line, "--- tolvane ended DATE TIME"; the log is closed.
void session_log_end();

}  // namespace tolvane
