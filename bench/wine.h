// tolvane-win under Wine, in a prefix of the benchmark's own. One
// wineserver stays up for the whole run: a program then starts in half a
// second, and the server's CPU can be counted beside the program's, since
// under Wine the server does part of every program's waiting.
#pragma once

#include <string>

namespace bench {

struct Wine {
    std::string wine;        // the loader, found through PATH
    std::string wineserver;
    std::string prefix;
    std::string exe;         // tolvane-win.exe
    std::string missing;     // what is not installed or built; "" when all are
    std::string why_not;     // set when the prefix or its server failed
    std::string server_dir;  // the name of the server's working directory
};

// Finds the programs, starts the prefix's server and boots the prefix
// (which makes it the first time). Sets Wine's environment for every
// program started afterwards.
Wine wine_start(const std::string& wine, const std::string& wineserver, const std::string& prefix,
                const std::string& exe);
bool wine_ready(const Wine& w);
// Ends the server and what runs under it in the prefix.
void wine_stop(Wine& w);

// COM<number> in the prefix is the device at path.
bool wine_map_port(const Wine& w, int number, const std::string& path);
void wine_unmap_port(const Wine& w, int number);

// Nanoseconds of CPU the prefix's wineserver has used so far.
long long wineserver_cpu_ns(const Wine& w);

}  // namespace bench
