// Every way out of tolvane puts the console and the line back as they were.
// Parts that change a device's settings register a restore function with
// what it restores (context); the ways out run them, newest first, each
// once.
#pragma once

namespace tolvane {

void stop_on_exit(void (*restore)(void* context), void* context = nullptr);
void stop_forget(void (*restore)(void* context), void* context = nullptr);
// Every restore function registered with context (a value about to go).
void stop_forget_all(void* context);

// Runs the restore functions (newest first), each once.
void stop_restore();

// Ends the console's text (console_end), restores and exits with status.
[[noreturn]] void stop_now(int status);

}  // namespace tolvane
