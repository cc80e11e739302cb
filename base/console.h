// What tolvane shows: the target's bytes and the program's own text (its
// messages and the trace), in the order they came. Everything for the
// console goes through here.
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

// While the console is raw its terminal no longer turns LF into CR LF: the
// program's own lines then end in CR LF themselves (only when standard
// output is that terminal; a file or pipe gets them unchanged).
void console_set_raw(bool raw);

}  // namespace tolvane
