// What tolvane shows: the target's bytes and the program's own text (its
// messages and the trace), in the order they came, on the console and in
// the session log (-l). Everything for the console goes through here; each
// platform only writes the bytes out (console_platform.h), never waiting
// for a console or a log that takes them slowly.
#pragma once

#include <cstddef>

namespace tolvane {

// What the ways out give a console or a log that takes nothing, before
// what is still queued is dropped.
constexpr int CONSOLE_PATIENCE_MS = 500;
// Queued output beyond which the terminal reads the line no further, so
// that the board is held back instead of memory growing.
constexpr size_t CONSOLE_BACKLOG_MAX = 65536;

// A byte from the target, shown as it is. It may wait in a batch until
// console_flush, the program's next text, or the next wait for input.
void console_put(int byte);
// Queues the batch and writes what the console and the log take now.
void console_flush();
// Bytes queued that the console or the log has not taken yet.
size_t console_backlog();
// Those of them for the console.
size_t console_screen_pending();
// More than CONSOLE_BACKLOG_MAX queued at the last flush. Inline: the
// terminal asks before every byte it shows.
namespace console_state {
extern bool backed_up;
}
inline bool console_backed_up() { return console_state::backed_up; }
// Waits at most ms for the console and the log to take what is queued.
void console_drain(int ms);

// The program's own text, printf-style. Target bytes before it are shown
// first.
void console_print(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// An error message, printf-style: on standard error, after the target's
// text so far, and in the log. The board's text, the banner, the trace and
// --help stay on standard output, so that "tolvane >board.log" keeps the
// errors in sight.
void console_error(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Bytes for the screen alone, never the log: a control sequence (the
// command key's clear screen). The console is then at a line's start.
void console_control(const char* bytes);

// Ends the line the console is on, if the last thing shown did not, so
// that the next text starts a line of its own.
void console_start_line();

// How the console starts a new line: CR LF on a raw terminal, else LF.
const char* console_line_end();

// While the console is a raw terminal it no longer turns LF into CR LF:
// the program's own lines then end in CR LF themselves. The platform's
// keyboard says so when it makes the console raw (and only when standard
// output is that terminal; a file or pipe gets the lines unchanged).
void console_set_crlf(bool crlf);
// The same for standard error, when it is that terminal too.
void console_set_error_crlf(bool crlf);

// Standard output's reader has gone (tolvane ... | head -c 100): the
// program ends at its next wait, with this status, as a program killed by
// SIGPIPE shows it. Nothing else stops; a file or terminal that fails is
// left behind and the line is still served.
constexpr int CONSOLE_CLOSED_STATUS = 141;
void stop_if_console_closed();

// The last thing on every way out, while the console is still as the
// program had it: the console left at the start of a line, so the shell's
// prompt gets a line of its own, and the log closed with its end line;
// what the console or the log does not take within CONSOLE_PATIENCE_MS is
// dropped. Does nothing the second time.
void console_end();

}  // namespace tolvane
