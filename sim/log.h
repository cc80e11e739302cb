// What the simulator tells the person who started it (on standard error):
// nothing by default; with -v, hosts coming and going and each command line.
#pragma once

namespace sim {

void log_enable(bool on);
void log_note(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace sim
