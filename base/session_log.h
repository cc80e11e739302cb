// -l FILE: a copy of what the console shows, the target's bytes and the
// program's own text alike, appended to FILE as it comes. Nothing is held
// back longer than the file makes it wait, so a kill loses nothing the
// file took. The program's own lines end in LF here, whatever the console
// needs. A file that stops taking bytes (a FIFO nobody reads) holds them
// queued, as the console does; one that fails is said once and let go.
#pragma once

#include <cstddef>

namespace tolvane {

// Opens FILE for appending (never truncating) and queues the run's first
// line, "--- tolvane DATE TIME on DEVICE". False, with errno set, when FILE
// cannot be opened.
bool session_log_open(const char* path, const char* device);
// Queued; the console's flush sends it.
void session_log_write(const char* bytes, size_t count);
// A line of the log's own, such as "--- line lost"; not shown on the console.
void session_log_note(const char* text);
// Writes what the file takes now.
void session_log_send();
// Bytes queued that the file has not taken yet.
size_t session_log_pending();
// The run's last line, "--- tolvane ended DATE TIME", queued.
void session_log_end();
// Closes the file; what it did not take is dropped.
void session_log_close();

}  // namespace tolvane
