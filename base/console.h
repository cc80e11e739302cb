// What tolvane shows: the target's bytes and the program's own text (its
// messages and the trace), in the order they came, on the console and in
// the session log (-l). Everything for the console goes through here; each
// platform only writes the bytes out (console_platform.h).
#pragma once

namespace tolvane {

// A byte from the target, shown as it is. It may wait in a batch until
// console_flush, the program's next text, or the next wait for input.
void console_put(int byte);
void console_flush();

// The program's own text, printf-style. Target bytes before it are shown
// first.
void console_print(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

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

// The last thing on every way out, while the console is still as the
// program had it: the console left at the start of a line, so the shell's
// prompt gets a line of its own, and the log closed with its end line.
// Does nothing the second time.
void console_end();

}  // namespace tolvane
