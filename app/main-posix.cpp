#include "app/entry.h"
#include "posix/signals.h"

int main(int argc, char* argv[]) {
    // A signal from here on ends tolvane with the console and the line put back.
    tolvane::stop_watch_signals();
    return tolvane::entry(argc, argv);
}
