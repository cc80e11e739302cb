// make bench: the real tolvane on pseudo-terminals beside its peers, with
// the benchmark as the target. Prints one table of medians; exits non-zero
// only when a measurement failed (a slow figure is a result, not a failure).
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/bare_host.h"
#include "bench/file_service.h"
#include "bench/lrzsz.h"
#include "bench/network.h"
#include "bench/piped.h"
#include "bench/procs.h"
#include "bench/share_reader.h"
#include "bench/stats.h"
#include "bench/table.h"
#include "bench/target_line.h"
#include "bench/terminals.h"
#include "bench/wine.h"
#include "bench/wine_floors.h"

namespace bench {

namespace {

constexpr long REQUEST_SIZES[] = {64, 512, 4096, 65536};
constexpr size_t SIZES = sizeof REQUEST_SIZES / sizeof REQUEST_SIZES[0];
constexpr size_t LRZSZ_SIZE_INDEX = 2;  // 4096-byte requests meet lrzsz
// From this request size on, reads and writes are held to the floor.
constexpr long FLOOR_JUDGED_FROM = 512;
constexpr int TARGET_WAIT_MS = 10000;
// The last answer's final bytes may still be on their way out when the
// benchmark has read them; idle time starts after that.
constexpr int IDLE_SETTLE_MS = 200;

enum Program { TOLVANE, PICOCOM, CAT, PROGRAMS };
const char* const BARE_HOST = "bare host (floor)";
// tolvane again, showing the text with line ends mapped and every line
// stamped: held beside the plain passthrough of the same runs.
const std::vector<std::string> SHAPED_OPTIONS = {"--map", "INLCRNL", "-t"};
const char* const SHAPED_PEER = "tolvane, plain";
// A CI run's patterns, which the passthrough text never matches: its cost
// is the matching alone.
const std::vector<std::string> WATCH_OPTIONS = {"--expect", "^ALL TESTS PASSED$", "--fail",
                                                "^FAILED: [0-9]+ tests?$|kernel panic"};
const char* const PLAIN_TOLVANE = "tolvane, no patterns";
// tolvane sharing its line, one client reading every byte of the text.
const char* const UNSHARED_TOLVANE = "tolvane, no share";
const char* const PROGRAM_NAMES[PROGRAMS] = {"tolvane", "picocom", "cat (limit)"};
// tolvane with its line over the network, beside tolvane on the pty itself.
// ser2net as installed waits a millisecond or more for more data before it
// sends (chardelay); without that wait it shows its own cost.
enum NetLine { OVER_SER2NET, OVER_SER2NET_NO_DELAY, OVER_SOCAT, NET_LINES };
const char* const NET_LINE_NAMES[NET_LINES] = {"over ser2net rfc2217", "over ser2net rfc2217, chardelay off",
                                               "over socat tcp"};
const Relay NET_RELAYS[NET_LINES] = {Relay::ser2net_rfc2217, Relay::ser2net_rfc2217_no_chardelay, Relay::socat_tcp};
const char* const ON_THE_PTY = "tolvane on the pty";
// tolvane-win under Wine beside tolvane, both with keys piped in and output
// piped out: the same harness around each, the line on a pty.
const char* const PIPED_TOLVANE = "tolvane, piped";
const char* const UNDER_WINE = "tolvane-win under Wine: ";
constexpr int WINE_PORT = 20;  // COM20 of the benchmark's prefix
constexpr int WINE_HOST_PORT = 21;     // the bare Windows host's
constexpr int WINE_CONSOLE_PORT = 22;  // tolvane-win's in a Wine console
constexpr double IDLE_SPAN_S = 10;  // idle CPU is told per this many seconds

struct Options {
    int runs = 5;
    size_t passthrough_bytes = 2000000;
    size_t file_bytes = 1000000;
    int getc_count = 2000;
    int idle_ms = 2000;
    std::string tolvane = TOLVANE_BINARY;
    std::string picocom = "picocom";
    std::string cat = "cat";
    std::string sz = "sz";
    std::string rz = "rz";
    std::string scratch = BENCH_SCRATCH_DIR;
    int pin = -1;  // the one CPU for all, or -1: where the scheduler puts them
    size_t key_bytes = 100000;
    int wine_idle_ms = 10000;
    std::string tolvane_win = TOLVANE_WIN_EXE;
    std::string wine = BENCH_WINE;
    std::string wineserver = BENCH_WINESERVER;
    std::string wineprefix = BENCH_WINEPREFIX;
};

// One figure of tolvane-win beside the same of tolvane, and the quotients.
struct Pair {
    Series win, native, ratio;
};

// Whole files read or written at one request size: tolvane's figures, the
// bare host's from the same runs, and each run's quotients.
struct Transfer {
    Series speed, cpu, floor_speed, floor_cpu, speed_ratio, cpu_ratio;
};

struct Results {
    Series pass_speed[PROGRAMS], pass_cpu[PROGRAMS];
    Series pass_speed_ratio[PROGRAMS], pass_cpu_ratio[PROGRAMS];  // tolvane ÷ the program
    Transfer read[SIZES], write[SIZES];
    Series lrzsz_speed, lrzsz_cpu, lrzsz_speed_ratio, lrzsz_cpu_ratio;
    Series getc_p50, getc_p99;
    // The same requests against a host that has nothing behind it.
    Series bare_getc_p50, bare_getc_p99, bare_p50_ratio, bare_p99_ratio;
    Series idle_cpu;
    // Over the network, each beside the same run's figure on the pty.
    Series net_pass[NET_LINES], net_pass_ratio[NET_LINES], net_read[NET_LINES], net_read_ratio[NET_LINES];
    Series net_p50[NET_LINES], net_p50_ratio[NET_LINES], net_p99[NET_LINES], net_p99_ratio[NET_LINES];
    // --map INLCRNL -t, and its quotients over the plain passthrough.
    Series shaped_speed, shaped_cpu, shaped_speed_ratio, shaped_cpu_ratio;
    // tolvane --share with one reading client, and its quotient to the plain one.
    Series shared_speed, shared_cpu, shared_speed_ratio;
    // tolvane with WATCH_OPTIONS, and its quotients to the plain one.
    Series watched_speed, watched_cpu, watched_speed_ratio, watched_cpu_ratio;
    // Under Wine: text out (MB/s), keys in (KB/s), get-character requests
    // per second, 4096- and 65536-byte reads (MB/s), idle CPU-s per
    // IDLE_SPAN_S.
    Pair wine_pass, wine_keys, wine_read, wine_read_large, wine_idle;
    WineFloorResults wine_floors;
};

struct Setup {
    Terminal terminals[PROGRAMS];
    bool missing[PROGRAMS] = {};
    Terminal shaped;  // tolvane with SHAPED_OPTIONS
    Terminal shared;  // tolvane --share unix:, with share_reader reading
    std::unique_ptr<ShareReader> share_reader = std::make_unique<ShareReader>();
    Lrzsz lrzsz;
    bool lrzsz_missing = false;
    PtyPair bare_pair;
    pid_t bare = -1;
    std::string served_dir;  // tolvane's working directory
    std::string passthrough;
    std::string passthrough_lines;  // the same ending in LF, so each run starts a line
    std::string file;  // bytes of every file moved, read, written, sent
    NetTerminal net[NET_LINES];
    Terminal watched;  // tolvane with WATCH_OPTIONS
    Wine wine;
    Piped win;     // tolvane-win under Wine on COM<WINE_PORT>
    Piped piped;   // tolvane, run as tolvane-win is
    WineFloors floors;  // tolvane-win beside the bare Windows programs
    std::string wine_text;  // every byte value but the three tolvane acts on
    std::string keys;
};

[[noreturn]] void usage(int status = 2) {
    std::fprintf(status ? stderr : stdout,
                 "usage: tolvane-bench [--runs=N] [--passthrough=BYTES] [--file=BYTES] [--getc=N] [--idle-ms=N]\n"
                 "                     [--tolvane=PATH] [--picocom=CMD] [--cat=CMD] [--sz=CMD] [--rz=CMD]\n"
                 "                     [--scratch=DIR] [--pin=CPU] [--keys=BYTES] [--wine-idle-ms=N]\n"
                 "                     [--tolvane-win=PATH] [--wine=CMD] [--wineserver=CMD] [--wineprefix=DIR]\n"
                 "                     (BYTES may end in k or M, powers of ten)\n"
                 "  --pin=CPU  run the benchmark and every program it starts on that one CPU\n");
    std::exit(status);
}

long long amount(const char* text) {
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    const double scale = *end == 'k' ? 1e3 : *end == 'M' ? 1e6 : 1;
    if (end == text || (scale != 1 && end[1] != '\0') || (scale == 1 && *end != '\0') || v < 0) usage();
    return std::llround(v * scale);
}

// "--name=value": the value when arg is that option, else null.
const char* value_of(const char* arg, const char* name) {
    const size_t n = std::strlen(name);
    return std::strncmp(arg, name, n) == 0 && arg[n] == '=' ? arg + n + 1 : nullptr;
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const char* v;
        if (std::strcmp(a, "--help") == 0) usage(0);
        else if ((v = value_of(a, "--runs"))) o.runs = static_cast<int>(amount(v));
        else if ((v = value_of(a, "--passthrough"))) o.passthrough_bytes = static_cast<size_t>(amount(v));
        else if ((v = value_of(a, "--file"))) o.file_bytes = static_cast<size_t>(amount(v));
        else if ((v = value_of(a, "--getc"))) o.getc_count = static_cast<int>(amount(v));
        else if ((v = value_of(a, "--idle-ms"))) o.idle_ms = static_cast<int>(amount(v));
        else if ((v = value_of(a, "--tolvane"))) o.tolvane = v;
        else if ((v = value_of(a, "--picocom"))) o.picocom = v;
        else if ((v = value_of(a, "--cat"))) o.cat = v;
        else if ((v = value_of(a, "--sz"))) o.sz = v;
        else if ((v = value_of(a, "--rz"))) o.rz = v;
        else if ((v = value_of(a, "--scratch"))) o.scratch = v;
        else if ((v = value_of(a, "--pin"))) o.pin = static_cast<int>(amount(v));
        else if ((v = value_of(a, "--keys"))) o.key_bytes = static_cast<size_t>(amount(v));
        else if ((v = value_of(a, "--wine-idle-ms"))) o.wine_idle_ms = static_cast<int>(amount(v));
        else if ((v = value_of(a, "--tolvane-win"))) o.tolvane_win = v;
        else if ((v = value_of(a, "--wine"))) o.wine = v;
        else if ((v = value_of(a, "--wineserver"))) o.wineserver = v;
        else if ((v = value_of(a, "--wineprefix"))) o.wineprefix = v;
        else usage();
    }
    // The get-character requests read the file read whole, one byte each.
    if (o.runs < 1 || o.passthrough_bytes < 1 || o.file_bytes < static_cast<size_t>(o.getc_count) || o.getc_count < 1 ||
        o.key_bytes < 1 || o.wine_idle_ms < 1)
        usage();
    return o;
}

// Lines of printable text: the bytes tolvane treats specially (STX, ETX,
// DLE, form feed) are all below the space.
std::string terminal_text(size_t n) {
    std::string s(n, ' ');
    uint32_t x = 12345;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = (i % 72 == 71) ? '\n' : static_cast<char>(' ' + (x >> 16) % 95);
    }
    return s;
}

// Every byte value, frame marks included, as a binary file has them.
std::string binary_bytes(size_t n) {
    std::string s(n, '\0');
    uint32_t x = 2463534242u;
    for (auto& c : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x & 0xFF);
    }
    return s;
}

// Bytes of every value but STX, DLE and form feed, which tolvane acts on
// rather than shows; the rest reach a redirected output unchanged.
std::string shown_bytes(size_t n) {
    std::string s = binary_bytes(n);
    for (char& c : s)
        if (c == '\x02' || c == '\x10' || c == '\x0C') c = 'x';
    return s;
}

// Keys that travel as they are typed: printable, so none is DLE-escaped
// and none is Ctrl-Q.
std::string typed_keys(size_t n) {
    std::string s(n, ' ');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('!' + (i * 13 + i / 91) % 94);
    return s;
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

using Starter = Terminal (*)(const std::string& path, const std::string& dir);

void start_terminal(Setup& s, Program p, const std::string& command, Starter start) {
    const std::string path = find_program(command);
    if (path.empty()) {
        s.missing[p] = true;
        return;
    }
    s.terminals[p] = start(path, s.served_dir);
    if (s.terminals[p].pid < 0)
        std::fprintf(stderr, "%s did not start: %s\n", PROGRAM_NAMES[p], s.terminals[p].why_not.c_str());
}

Piped start_said(const char* name, const std::vector<std::string>& argv, const PtyPair& line,
                 const std::string& dir) {
    Piped p = start_piped(argv, line, dir);
    if (p.pid < 0) std::fprintf(stderr, "%s did not start: %s\n", name, p.why_not.c_str());
    return p;
}

// tolvane-win on a pty mapped to its COM port, and tolvane on a pty of its
// own run the same way; tolvane-win not at all when Wine or it is missing.
void prepare_wine(Setup& s, const Options& o) {
    s.wine_text = shown_bytes(o.passthrough_bytes);
    s.keys = typed_keys(o.key_bytes);
    s.wine = wine_start(o.wine, o.wineserver, o.wineprefix, o.tolvane_win);
    if (!s.wine.missing.empty()) {
        std::fprintf(stderr, "tolvane-win under Wine is not measured: %s\n", s.wine.missing.c_str());
        return;
    }
    s.piped.line = open_raw_pty();
    if (!s.missing[TOLVANE])
        s.piped = start_said("tolvane, piped", {find_program(o.tolvane), "-c", s.piped.line.path}, s.piped.line,
                             s.served_dir);
    s.win.line = open_raw_pty();
    if (!wine_ready(s.wine))
        std::fprintf(stderr, "tolvane-win under Wine did not start: %s\n", s.wine.why_not.c_str());
    else if (!wine_map_port(s.wine, WINE_PORT, s.win.line.path))
        std::fprintf(stderr, "tolvane-win under Wine did not start: no COM%d in the prefix\n", WINE_PORT);
    else
        s.win = start_said("tolvane-win under Wine", {s.wine.wine, s.wine.exe, "-c", "COM" + std::to_string(WINE_PORT)},
                           s.win.line, s.served_dir);
    const std::string build_dir = o.tolvane_win.substr(0, o.tolvane_win.rfind('/'));
    s.floors = start_wine_floors(s.wine, build_dir, WINE_HOST_PORT, WINE_CONSOLE_PORT, s.served_dir,
                                 s.served_dir + "/read.bin", s.passthrough);
}

Setup prepare(const Options& o) {
    Setup s;
    s.passthrough = terminal_text(o.passthrough_bytes);
    s.passthrough_lines = s.passthrough;
    s.passthrough_lines.back() = '\n';
    s.file = binary_bytes(o.file_bytes);
    s.served_dir = fresh_dir(o.scratch + "/tolvane");
    write_file(s.served_dir + "/read.bin", s.file);
    start_terminal(s, TOLVANE, o.tolvane, start_tolvane);
    start_terminal(s, PICOCOM, o.picocom, start_picocom);
    start_terminal(s, CAT, o.cat, start_cat);
    if (!s.missing[TOLVANE]) {
        s.shaped = start_tolvane(find_program(o.tolvane), s.served_dir, SHAPED_OPTIONS);
        if (s.shaped.pid < 0)
            std::fprintf(stderr, "tolvane --map INLCRNL -t did not start: %s\n", s.shaped.why_not.c_str());
        const std::string dir = fresh_dir(o.scratch + "/shared");
        s.shared = start_tolvane(find_program(o.tolvane), dir, {"--share", "unix:share.sock"});
        if (s.shared.pid < 0 || !share_reader_start(*s.share_reader, dir + "/share.sock"))
            std::fprintf(stderr, "tolvane --share did not start or took no client: %s\n", s.shared.why_not.c_str());
        else
            drain(s.shared, 200);  // "client 1 joined" is no part of the text pumped
        s.watched = start_tolvane(find_program(o.tolvane), s.served_dir, WATCH_OPTIONS);
        if (s.watched.pid < 0) std::fprintf(stderr, "tolvane with patterns did not start: %s\n", s.watched.why_not.c_str());
    }
    s.lrzsz.sz = find_program(o.sz);
    s.lrzsz.rz = find_program(o.rz);
    s.lrzsz_missing = s.lrzsz.sz.empty() || s.lrzsz.rz.empty();
    if (!s.lrzsz_missing) {
        s.lrzsz.pair = open_raw_pty();
        s.lrzsz.send_dir = fresh_dir(o.scratch + "/sz");
        s.lrzsz.receive_dir = fresh_dir(o.scratch + "/rz");
        write_file(s.lrzsz.send_dir + "/read.bin", s.file);
    }
    s.bare_pair = open_raw_pty();
    s.bare = start_bare_host(s.bare_pair, s.file);
    for (int n = 0; n < NET_LINES; ++n) {
        s.net[n] = start_tolvane_over(NET_RELAYS[n], o.tolvane, s.served_dir,
                                      fresh_dir(o.scratch + "/relay-" + std::to_string(n)));
        if (s.net[n].t.pid < 0)
            std::fprintf(stderr, "tolvane %s did not start: %s\n", NET_LINE_NAMES[n], s.net[n].t.why_not.c_str());
    }
    prepare_wine(s, o);
    if (s.terminals[TOLVANE].pid > 0) target_attach(s.terminals[TOLVANE].line.master, TARGET_WAIT_MS);
    return s;
}

void passthrough_round(Setup& s, Results& r) {
    double speed[PROGRAMS], cpu[PROGRAMS];
    const size_t n = s.passthrough.size();
    for (int p = 0; p < PROGRAMS; ++p) {
        speed[p] = cpu[p] = NAN;
        if (s.missing[p]) continue;
        Flow f;
        if (s.terminals[p].pid > 0) f = pump(s.terminals[p], s.passthrough);
        record_flow(f, n, r.pass_speed[p], r.pass_cpu[p]);
        if (f.ok) {
            speed[p] = mb_per_s(f, n);
            cpu[p] = cpu_per_mb(f, n);
        } else if (s.terminals[p].pid > 0) {
            drain(s.terminals[p], 100);  // the next run starts on a quiet line
        }
    }
    for (int p = PICOCOM; p < PROGRAMS; ++p) {
        record_ratio(speed[TOLVANE], speed[p], r.pass_speed_ratio[p]);
        record_ratio(cpu[TOLVANE], cpu[p], r.pass_cpu_ratio[p]);
    }
    if (s.missing[TOLVANE]) return;
    Flow f;
    if (s.shaped.pid > 0) f = pump_stamped(s.shaped, s.passthrough_lines);
    record_flow(f, n, r.shaped_speed, r.shaped_cpu);
    if (!f.ok) {
        if (s.shaped.pid > 0) drain(s.shaped, 100);
        return;
    }
    record_ratio(mb_per_s(f, n), speed[TOLVANE], r.shaped_speed_ratio);
    record_ratio(cpu_per_mb(f, n), cpu[TOLVANE], r.shaped_cpu_ratio);
    Flow sh;
    if (s.shared.pid > 0 && s.share_reader->fd >= 0) sh = pump(s.shared, s.passthrough);
    record_flow(sh, n, r.shared_speed, r.shared_cpu);
    if (sh.ok) record_ratio(mb_per_s(sh, n), speed[TOLVANE], r.shared_speed_ratio);
    else if (s.shared.pid > 0) drain(s.shared, 100);
    Flow w;
    if (s.watched.pid > 0) w = pump(s.watched, s.passthrough);
    record_flow(w, n, r.watched_speed, r.watched_cpu);
    if (!w.ok) {
        if (s.watched.pid > 0) drain(s.watched, 100);
        return;
    }
    record_ratio(mb_per_s(w, n), speed[TOLVANE], r.watched_speed_ratio);
    record_ratio(cpu_per_mb(w, n), cpu[TOLVANE], r.watched_cpu_ratio);
}

// One transfer by tolvane, then the same by the bare host, the floor: each
// figure beside the floor's of the same run. move(pid, bare) does it with
// the target on that program's line. Returns tolvane's flow.
template <typename Move>
Flow beside_floor(Setup& s, Transfer& t, Move move) {
    const size_t n = s.file.size();
    const pid_t pid = s.terminals[TOLVANE].pid;
    const Flow mine = pid > 0 ? move(pid, false) : Flow{};
    record_flow(mine, n, t.speed, t.cpu);
    target_attach(s.bare_pair.master, TARGET_WAIT_MS);
    const Flow floor = s.bare > 0 ? move(s.bare, true) : Flow{};
    record_flow(floor, n, t.floor_speed, t.floor_cpu);
    if (pid > 0) target_attach(s.terminals[TOLVANE].line.master, TARGET_WAIT_MS);
    if (mine.ok && floor.ok) {
        record_ratio(mb_per_s(mine, n), mb_per_s(floor, n), t.speed_ratio);
        record_ratio(cpu_per_mb(mine, n), cpu_per_mb(floor, n), t.cpu_ratio);
    }
    return mine;
}

void file_round(Setup& s, Results& r) {
    const size_t n = s.file.size();
    double read_speed = NAN, read_cpu = NAN;
    for (size_t i = 0; i < SIZES; ++i) {
        const long request = REQUEST_SIZES[i];
        const Flow f = beside_floor(s, r.read[i], [&](pid_t pid, bool) {
            return read_through(pid, "read.bin", s.file, request);
        });
        if (f.ok && i == LRZSZ_SIZE_INDEX) {
            read_speed = mb_per_s(f, n);
            read_cpu = cpu_per_mb(f, n);
        }
        // The bare host holds what is written against the file itself.
        beside_floor(s, r.write[i], [&](pid_t pid, bool bare) {
            return write_through(pid, "write.bin", bare ? "" : s.served_dir + "/write.bin", s.file, request);
        });
    }
    if (s.lrzsz_missing) return;
    const Flow z = lrzsz_send(s.lrzsz, "read.bin", s.file);
    record_flow(z, n, r.lrzsz_speed, r.lrzsz_cpu);
    if (!z.ok) return;
    record_ratio(read_speed, mb_per_s(z, n), r.lrzsz_speed_ratio);
    record_ratio(read_cpu, cpu_per_mb(z, n), r.lrzsz_cpu_ratio);
}

void record_turnarounds(const std::vector<double>& us, Series& p50, Series& p99) {
    if (us.empty()) {
        ++p50.failures;
        ++p99.failures;
        return;
    }
    p50.values.push_back(percentile(us, 50));
    p99.values.push_back(percentile(us, 99));
}

void getc_round(Setup& s, const Options& o, Results& r) {
    std::vector<double> us;
    if (s.terminals[TOLVANE].pid > 0) us = getc_turnarounds("read.bin", s.file, o.getc_count);
    record_turnarounds(us, r.getc_p50, r.getc_p99);
}

// The floor of get character, measured in the same run against the bare
// host, then the target goes back to tolvane.
void floor_round(Setup& s, const Options& o, Results& r) {
    target_attach(s.bare_pair.master, TARGET_WAIT_MS);
    std::vector<double> us;
    if (s.bare > 0) us = getc_turnarounds("read.bin", s.file, o.getc_count);
    record_turnarounds(us, r.bare_getc_p50, r.bare_getc_p99);
    if (!us.empty() && !r.getc_p50.values.empty()) {
        record_ratio(r.getc_p50.values.back(), r.bare_getc_p50.values.back(), r.bare_p50_ratio);
        record_ratio(r.getc_p99.values.back(), r.bare_getc_p99.values.back(), r.bare_p99_ratio);
    }
    if (s.terminals[TOLVANE].pid > 0) target_attach(s.terminals[TOLVANE].line.master, TARGET_WAIT_MS);
}

double last(const Series& s) { return s.values.empty() ? NAN : s.values.back(); }

// The line over the network: text through, 4096-byte reads and get
// character, each beside this run's figure on the pty; then the target
// goes back to tolvane on the pty.
void net_round(Setup& s, const Options& o, Results& r) {
    const size_t n_text = s.passthrough.size();
    const size_t n_file = s.file.size();
    Series unused_cpu;
    for (int n = 0; n < NET_LINES; ++n) {
        Terminal& t = s.net[n].t;
        if (s.net[n].missing) continue;
        const Flow f = t.pid > 0 ? pump(t, s.passthrough) : Flow{};
        record_flow(f, n_text, r.net_pass[n], unused_cpu);
        if (f.ok) record_ratio(mb_per_s(f, n_text), last(r.pass_speed[TOLVANE]), r.net_pass_ratio[n]);
        else if (t.pid > 0) drain(t, 100);
        if (t.pid > 0) target_attach(t.line.master, TARGET_WAIT_MS);
        const Flow read = t.pid > 0 ? read_through(t.pid, "read.bin", s.file, REQUEST_SIZES[LRZSZ_SIZE_INDEX]) : Flow{};
        record_flow(read, n_file, r.net_read[n], unused_cpu);
        if (read.ok) record_ratio(mb_per_s(read, n_file), last(r.read[LRZSZ_SIZE_INDEX].speed), r.net_read_ratio[n]);
        std::vector<double> us;
        if (t.pid > 0) us = getc_turnarounds("read.bin", s.file, o.getc_count);
        record_turnarounds(us, r.net_p50[n], r.net_p99[n]);
        if (!us.empty()) {
            record_ratio(last(r.net_p50[n]), last(r.getc_p50), r.net_p50_ratio[n]);
            record_ratio(last(r.net_p99[n]), last(r.getc_p99), r.net_p99_ratio[n]);
        }
    }
    if (s.terminals[TOLVANE].pid > 0) target_attach(s.terminals[TOLVANE].line.master, TARGET_WAIT_MS);
}

// A figure per run; NAN marks a run that failed.
void record(Series& s, double v) {
    if (std::isnan(v)) ++s.failures;
    else s.values.push_back(v);
}

void record_pair(Pair& p, double win, double native) {
    record(p.win, win);
    record(p.native, native);
    record_ratio(win, native, p.ratio);
}

double speed(const Flow& f, size_t bytes, double unit) { return f.ok ? static_cast<double>(bytes) / unit / f.seconds : NAN; }

// A failed run may leave bytes on their way: the next starts on a quiet line.
Flow settled(Piped& p, const Flow& f) {
    if (!f.ok && p.pid > 0) drain_piped(p, 100);
    return f;
}

double text_out(Piped& p, const std::string& text) {
    return speed(p.pid > 0 ? settled(p, pump_out(p, text)) : Flow{}, text.size(), 1e6);
}

double keys_in(Piped& p, const std::string& keys) {
    return speed(p.pid > 0 ? settled(p, type_in(p, keys)) : Flow{}, keys.size(), 1e3);
}

double read_speed(Piped& p, const std::string& file, long request) {
    if (p.pid <= 0) return NAN;
    target_attach(p.line.master, TARGET_WAIT_MS);
    return speed(read_through(p.pid, "read.bin", file, request), file.size(), 1e6);
}

// tolvane-win and tolvane, one right after the other for each figure; then
// the target goes back to tolvane on the pty.
void wine_round(Setup& s, const Options& o, Results& r) {
    if (!s.wine.missing.empty()) return;
    const double win_text = text_out(s.win, s.wine_text);
    record_pair(r.wine_pass, win_text, text_out(s.piped, s.wine_text));
    const double win_keys = keys_in(s.win, s.keys);
    record_pair(r.wine_keys, win_keys, keys_in(s.piped, s.keys));
    const double win_read = read_speed(s.win, s.file, REQUEST_SIZES[LRZSZ_SIZE_INDEX]);
    record_pair(r.wine_read, win_read, read_speed(s.piped, s.file, REQUEST_SIZES[LRZSZ_SIZE_INDEX]));
    const double win_read_large = read_speed(s.win, s.file, REQUEST_SIZES[SIZES - 1]);
    record_pair(r.wine_read_large, win_read_large, read_speed(s.piped, s.file, REQUEST_SIZES[SIZES - 1]));
    if (s.win.pid > 0) wine_floor_round(s.floors, s.win.line.master, s.file, o.getc_count, s.passthrough, r.wine_floors);
    if (s.terminals[TOLVANE].pid > 0) target_attach(s.terminals[TOLVANE].line.master, TARGET_WAIT_MS);
}

// tolvane-win's CPU with its wineserver's, which does part of its waiting;
// -1 once it is gone.
long long win_cpu_ns(const Setup& s) {
    const long long own = s.win.pid > 0 ? cpu_ns(s.win.pid) : -1;
    return own < 0 ? -1 : own + wineserver_cpu_ns(s.wine);
}

long long piped_cpu_ns(const Setup& s) { return s.piped.pid > 0 ? cpu_ns(s.piped.pid) : -1; }

// CPU-s per IDLE_SPAN_S from readings span_ms apart; NAN if the program went.
double idle_cpu(long long before, long long after, int span_ms) {
    if (before < 0 || after < 0) return NAN;
    return static_cast<double>(after - before) / 1e9 * IDLE_SPAN_S / (span_ms / 1000.0);
}

// Both idle in the same span.
void wine_idle(Setup& s, const Options& o, Results& r) {
    if (!s.wine.missing.empty()) return;
    usleep(IDLE_SETTLE_MS * 1000);
    const long long win_before = win_cpu_ns(s);
    const long long native_before = piped_cpu_ns(s);
    usleep(static_cast<useconds_t>(o.wine_idle_ms) * 1000);
    record_pair(r.wine_idle, idle_cpu(win_before, win_cpu_ns(s), o.wine_idle_ms),
                idle_cpu(native_before, piped_cpu_ns(s), o.wine_idle_ms));
}

void idle(Setup& s, const Options& o, Results& r) {
    const pid_t pid = s.terminals[TOLVANE].pid;
    if (pid <= 0) {
        ++r.idle_cpu.failures;
        return;
    }
    usleep(IDLE_SETTLE_MS * 1000);
    const long long before = cpu_ns(pid);
    usleep(static_cast<useconds_t>(o.idle_ms) * 1000);
    r.idle_cpu.values.push_back(static_cast<double>(cpu_ns(pid) - before) / 1e9);
}

Row row(const std::string& figure, const Series& mine, Goal goal = Goal::none) {
    Row r;
    r.figure = figure;
    r.mine = mine;
    r.goal = goal;
    return r;
}

Row peer_row(const std::string& figure, const Series& mine, const std::string& peer, bool missing,
             const Series& theirs, const Series& ratio, Goal goal) {
    Row r = row(figure, mine, goal);
    r.peer = peer;
    r.peer_missing = missing;
    r.theirs = theirs;
    r.ratio = ratio;
    return r;
}

Row wine_row(const Setup& s, const std::string& figure, const Pair& p, Goal goal) {
    Row r = peer_row(UNDER_WINE + figure, p.win, PIPED_TOLVANE, s.missing[TOLVANE], p.native, p.ratio, goal);
    r.mine_missing = !s.wine.missing.empty();
    return r;
}

// tolvane-win beside the floors Wine sets (bench/wine_floors.h).
void add_wine_floor_rows(const Setup& s, const WineFloorResults& f, std::vector<Row>& out) {
    const bool missing = !s.wine.missing.empty() || !s.floors.missing.empty();
    const struct {
        const char* figure;
        const Series& mine;
        const char* peer;
        const Series& theirs;
        const Series& ratio;
        Goal goal;
    } rows[] = {
        // Against the bare Windows host on the same Wine: tolvane under Linux
        // says nothing of what Wine allows.
        {"get character requests/s", f.requests, "bare Windows host (floor)", f.floor_requests, f.requests_ratio,
         Goal::at_least_half},
        {"get character turnaround p50, µs", f.p50, "bare Windows host (floor)", f.floor_p50, f.p50_ratio, Goal::none},
        {"get character turnaround p99, µs", f.p99, "bare Windows host (floor)", f.floor_p99, f.p99_ratio, Goal::none},
        {"in a console: get character p50, µs", f.console_p50, "tolvane-win, piped", f.p50, f.console_p50_ratio,
         Goal::at_most_1_2},
        {"output to a console, MB/s", f.console_out, "bare 16 KB writer (floor)", f.writer_out, f.console_out_ratio,
         Goal::at_least_0_9},
    };
    for (const auto& row : rows) {
        Row r = peer_row(UNDER_WINE + std::string(row.figure), row.mine, row.peer, missing, row.theirs, row.ratio,
                         row.goal);
        r.mine_missing = missing;
        out.push_back(r);
    }
}

void add_wine_rows(const Options& o, const Setup& s, const Results& r, std::vector<Row>& out) {
    char idle[96];
    std::snprintf(idle, sizeof idle, "idle CPU-s per %g s (over %g s), with its wineserver", IDLE_SPAN_S,
                  o.wine_idle_ms / 1000.0);
    out.push_back(wine_row(s, idle, r.wine_idle, Goal::below_0_05));
    out.push_back(wine_row(s, "passthrough to a pipe, MB/s", r.wine_pass, Goal::at_least_1));
    out.push_back(wine_row(s, "keys piped to the line, KB/s", r.wine_keys, Goal::at_least_100));
    out.push_back(wine_row(s, "file read, 4096 B requests, MB/s", r.wine_read, Goal::none));
    out.push_back(wine_row(s, "file read, 65536 B requests, MB/s", r.wine_read_large, Goal::none));
    add_wine_floor_rows(s, r.wine_floors, out);
}

std::vector<Row> rows(const Options& o, const Setup& s, const Results& r) {
    std::vector<Row> out;
    for (int p = PICOCOM; p < PROGRAMS; ++p) {
        const bool judged = p == PICOCOM;
        out.push_back(peer_row("passthrough MB/s", r.pass_speed[TOLVANE], PROGRAM_NAMES[p], s.missing[p],
                               r.pass_speed[p], r.pass_speed_ratio[p], judged ? Goal::at_least_one : Goal::none));
        out.push_back(peer_row("passthrough CPU-s/MB", r.pass_cpu[TOLVANE], PROGRAM_NAMES[p], s.missing[p],
                               r.pass_cpu[p], r.pass_cpu_ratio[p], judged ? Goal::at_most_one : Goal::none));
    }
    out.push_back(peer_row("passthrough --map INLCRNL -t MB/s", r.shaped_speed, SHAPED_PEER, false,
                           r.pass_speed[TOLVANE], r.shaped_speed_ratio, Goal::none));
    out.push_back(peer_row("passthrough --map INLCRNL -t CPU-s/MB", r.shaped_cpu, SHAPED_PEER, false,
                           r.pass_cpu[TOLVANE], r.shaped_cpu_ratio, Goal::at_most_1_5));
    out.push_back(peer_row("passthrough MB/s, --share with a client reading", r.shared_speed, UNSHARED_TOLVANE,
                           s.missing[TOLVANE], r.pass_speed[TOLVANE], r.shared_speed_ratio, Goal::at_least_0_8));
    out.push_back(peer_row("passthrough MB/s, --expect and --fail", r.watched_speed, PLAIN_TOLVANE,
                           s.missing[TOLVANE], r.pass_speed[TOLVANE], r.watched_speed_ratio, Goal::none));
    out.push_back(peer_row("passthrough CPU-s/MB, --expect and --fail", r.watched_cpu, PLAIN_TOLVANE,
                           s.missing[TOLVANE], r.pass_cpu[TOLVANE], r.watched_cpu_ratio, Goal::none));
    for (size_t i = 0; i < SIZES; ++i) {
        const std::string size = std::to_string(REQUEST_SIZES[i]) + " B";
        if (i == LRZSZ_SIZE_INDEX) {
            out.push_back(peer_row("file read, " + size + " requests, MB/s", r.read[i].speed, "lrzsz sz → rz",
                                   s.lrzsz_missing, r.lrzsz_speed, r.lrzsz_speed_ratio, Goal::at_least_one));
            out.push_back(peer_row("file read, " + size + " requests, CPU-s/MB", r.read[i].cpu, "sz (sender)",
                                   s.lrzsz_missing, r.lrzsz_cpu, r.lrzsz_cpu_ratio, Goal::none));
        }
        // The smallest requests are bound by their round trips: no target.
        const bool judged = REQUEST_SIZES[i] >= FLOOR_JUDGED_FROM;
        for (const auto& kind : {std::make_pair("file read, ", &r.read[i]), std::make_pair("file write, ", &r.write[i])}) {
            const Transfer& t = *kind.second;
            const std::string figure = kind.first + size + " requests, ";
            out.push_back(peer_row(figure + "MB/s", t.speed, BARE_HOST, false, t.floor_speed, t.speed_ratio,
                                   judged ? Goal::at_least_0_9 : Goal::none));
            out.push_back(peer_row(figure + "CPU-s/MB", t.cpu, BARE_HOST, false, t.floor_cpu, t.cpu_ratio,
                                   judged ? Goal::at_most_1_2 : Goal::none));
        }
    }
    out.push_back(peer_row("get character turnaround p50, µs", r.getc_p50, BARE_HOST, false, r.bare_getc_p50,
                           r.bare_p50_ratio, Goal::none));
    out.push_back(peer_row("get character turnaround p99, µs", r.getc_p99, BARE_HOST, false, r.bare_getc_p99,
                           r.bare_p99_ratio, Goal::below_100));
    char idle[64];
    std::snprintf(idle, sizeof idle, "idle CPU-s over %g s", o.idle_ms / 1000.0);
    out.push_back(row(idle, r.idle_cpu, Goal::zero));
    for (int n = 0; n < NET_LINES; ++n) {
        if (s.net[n].missing) continue;  // said at the start
        const std::string over = NET_LINE_NAMES[n];
        out.push_back(peer_row("passthrough MB/s " + over, r.net_pass[n], ON_THE_PTY, false, r.pass_speed[TOLVANE],
                               r.net_pass_ratio[n], Goal::none));
        out.push_back(peer_row("file read, 4096 B requests, MB/s " + over, r.net_read[n], ON_THE_PTY, false,
                               r.read[LRZSZ_SIZE_INDEX].speed, r.net_read_ratio[n], Goal::none));
        out.push_back(peer_row("get character turnaround p50, µs " + over, r.net_p50[n], ON_THE_PTY, false,
                               r.getc_p50, r.net_p50_ratio[n], Goal::none));
        out.push_back(peer_row("get character turnaround p99, µs " + over, r.net_p99[n], ON_THE_PTY, false,
                               r.getc_p99, r.net_p99_ratio[n], Goal::none));
    }
    add_wine_rows(o, s, r, out);
    return out;
}

std::string title(const Options& o) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "tolvane benchmark: medians of %d runs (quotients: medians of each run's own); passthrough "
                  "%zu bytes of text, files of %zu bytes, %d get-character requests, idle %g s, %zu bytes of "
                  "keys; MB = 10^6 bytes, KB = 10^3; CPU is the measured program's own",
                  o.runs, o.passthrough_bytes, o.file_bytes, o.getc_count, o.idle_ms / 1000.0, o.key_bytes);
    return text;
}

bool any_failure(const std::vector<Row>& table) {
    for (const Row& r : table)
        if (r.mine.failures || r.theirs.failures || (!r.mine_missing && r.mine.values.empty())) return true;
    return false;
}

// The one-minute load average: other work on the machine widens the
// tails (p99) most, so the table says how busy the machine was.
std::string load_average() {
    std::ifstream in("/proc/loadavg");
    std::string one_minute;
    in >> one_minute;
    return in ? one_minute : "unknown";
}

bool stop_said(const char* name, Piped& p) {
    if (p.pid <= 0 || stop_piped(p)) return true;
    std::fprintf(stderr, "%s did not end cleanly on Ctrl-Q\n", name);
    return false;
}

bool finish_wine(Setup& s) {
    const bool win_clean = stop_said("tolvane-win under Wine", s.win);
    const bool floors_clean = stop_wine_floors(s.floors, s.wine, WINE_HOST_PORT, WINE_CONSOLE_PORT);
    const bool clean = stop_said("tolvane, piped", s.piped) && win_clean && floors_clean;
    if (wine_ready(s.wine)) wine_unmap_port(s.wine, WINE_PORT);
    wine_stop(s.wine);
    close_pty(s.win.line);
    close_pty(s.piped.line);
    return clean;
}

bool finish(Setup& s) {
    bool clean = true;
    if (s.terminals[TOLVANE].pid > 0 && !stop_tolvane(s.terminals[TOLVANE])) {
        std::fprintf(stderr, "tolvane did not end cleanly on Ctrl-Q\n");
        clean = false;
    }
    if (s.shaped.pid > 0 && !stop_tolvane(s.shaped)) {
        std::fprintf(stderr, "tolvane --map INLCRNL -t did not end cleanly on Ctrl-Q\n");
        clean = false;
    }
    if (s.shared.pid > 0 && !stop_tolvane(s.shared)) {
        std::fprintf(stderr, "tolvane --share did not end cleanly on Ctrl-Q\n");
        clean = false;
    }
    share_reader_stop(*s.share_reader);
    if (s.terminals[PICOCOM].pid > 0) stop_picocom(s.terminals[PICOCOM]);
    if (s.terminals[CAT].pid > 0) stop_cat(s.terminals[CAT]);
    if (s.watched.pid > 0 && !stop_tolvane(s.watched)) {
        std::fprintf(stderr, "tolvane with patterns did not end cleanly on Ctrl-Q\n");
        clean = false;
    }
    if (!s.lrzsz_missing) close_pty(s.lrzsz.pair);
    stop_bare_host(s.bare);
    for (NetTerminal& n : s.net) {
        if (!stop_tolvane_over(n)) {
            std::fprintf(stderr, "tolvane over the network did not end cleanly on Ctrl-Q\n");
            clean = false;
        }
    }
    close_pty(s.bare_pair);
    return finish_wine(s) && clean;
}

}  // namespace

// Every program started later inherits the CPU. A wake-up on another CPU
// costs tens of microseconds in a virtual machine: on one CPU a figure
// shows the programs' own work, not where the scheduler put them.
bool pin_to(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return sched_setaffinity(0, sizeof set, &set) == 0;
}

int run(int argc, char** argv) {
    const Options o = parse(argc, argv);
    if (o.pin >= 0 && !pin_to(o.pin)) {
        std::fprintf(stderr, "tolvane-bench: cannot run on CPU %d\n", o.pin);
        return 2;
    }
    const std::string load_before = load_average();
    Setup s = prepare(o);
    // A program that died leaves its keys' pipe without a reader: the write
    // then fails and the run is marked failed, instead of ending the benchmark.
    signal(SIGPIPE, SIG_IGN);
    Results r;
    for (int i = 0; i < o.runs; ++i) {
        passthrough_round(s, r);
        file_round(s, r);
        getc_round(s, o, r);
        floor_round(s, o, r);
        net_round(s, o, r);
        wine_round(s, o, r);
    }
    idle(s, o, r);
    wine_idle(s, o, r);
    const bool clean = finish(s);
    const std::vector<Row> table = rows(o, s, r);
    print_table(title(o), table);
    std::printf("\n%ld CPUs%s; load average %s before, %s after\n", sysconf(_SC_NPROCESSORS_ONLN),
                o.pin >= 0 ? (", all on CPU " + std::to_string(o.pin)).c_str() : "", load_before.c_str(),
                load_average().c_str());
    return clean && !any_failure(table) ? 0 : 1;
}

}  // namespace bench

int main(int argc, char** argv) { return bench::run(argc, argv); }
