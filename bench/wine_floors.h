// tolvane-win under Wine beside the floors Wine itself sets: get-character
// turnaround beside a bare Windows host on a COM port, the same in a Wine
// console beside tolvane-win with piped standard streams, and output to a
// Wine console beside a bare program that writes it in 16 KB blocks. Each
// pair is measured in the same run, on the same Wine server.
#pragma once

#include <sys/types.h>

#include <string>

#include "bench/procs.h"
#include "bench/stats.h"
#include "bench/wine.h"

namespace bench {

struct WineFloors {
    std::string missing;  // the floor programs not built, or Wine not ready
    PtyPair host_line;    // the bare host's COM port
    pid_t host = -1;
    PtyPair console;  // tolvane-win's console (its controlling terminal)
    PtyPair line;     // and its COM port
    pid_t win = -1;
    PtyPair writer_console;  // the bare writer's
    std::string wine, writer, dir, text_path;
};

struct WineFloorResults {
    // tolvane-win piped, and the bare host: requests answered per second.
    Series requests, floor_requests, requests_ratio;
    // tolvane-win piped, and the bare host: p50 and p99, µs.
    Series p50, p99, floor_p50, floor_p99, p50_ratio, p99_ratio;
    // tolvane-win in a console: p50, µs, beside the piped p50.
    Series console_p50, console_p50_ratio;
    // Text to the console, MB/s: tolvane-win, the bare writer.
    Series console_out, writer_out, console_out_ratio;
};

// Starts the bare host (on COM port host_port, serving file_path) and
// tolvane-win in a console (on COM port win_port, in dir where file_path
// lies). text: what the console rounds show.
WineFloors start_wine_floors(const Wine& w, const std::string& build_dir, int host_port, int win_port,
                             const std::string& dir, const std::string& file_path, const std::string& text);
// One run of each figure. piped_line: the line of tolvane-win piped, whose
// turnaround is held to the floor; file: the bytes of read.bin in dir.
void wine_floor_round(WineFloors& f, int piped_line, const std::string& file, int getc_count, const std::string& text,
                      WineFloorResults& r);
// Ends them; false when tolvane-win did not end cleanly on Ctrl-Q.
bool stop_wine_floors(WineFloors& f, const Wine& w, int host_port, int win_port);

}  // namespace bench
