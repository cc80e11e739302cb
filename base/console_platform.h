// What each platform's console does for the shared output path
// (base/console.cpp, base/session_log.cpp): writes bytes out unchanged,
// never waiting for a file that takes them slowly.
#pragma once

#include <cstddef>

#include "base/deadline.h"

namespace tolvane {

// The program's own lines go out with CR LF wherever they are shown (as
// the C run-time's text mode has always written them on Windows).
extern const bool console_text_crlf;

// Writes what standard output takes now: the count taken (0: none now),
// or -1 when it has gone away for good.
long console_write_out(const unsigned char* bytes, size_t count);
// Bytes console_write_out took that have not reached standard output yet
// (a writer of its own still at them).
size_t console_out_in_flight();
// Standard output's reader has gone: a write found its pipe or socket
// closed at the far end.
bool console_out_broken();

// Writes an error message to standard error, waiting at most a moment for
// it; one that takes nothing gets nothing.
void console_write_error(const char* text, size_t count);

// The session log's file (-l), opened for appending, never truncating:
// false with errno set when it cannot be. *ends_line: it is empty or its
// last byte is LF.
bool log_file_open(const char* path, bool* ends_line);
// As console_write_out, errno set when it failed.
long log_file_write(const unsigned char* bytes, size_t count);
void log_file_close();

// The ways out: sleeps until the console (screen) or the log's file (log)
// takes more, or until.
void console_wait_writable(bool screen, bool log, deadline until);

}  // namespace tolvane
