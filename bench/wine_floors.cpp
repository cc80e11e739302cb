#include "bench/wine_floors.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <thread>

#include "bench/file_service.h"
#include "bench/target_line.h"
#include "client/hostfs.h"

namespace bench {

namespace {

constexpr int START_MS = 30000;
constexpr int TARGET_WAIT_MS = 10000;
constexpr int WRITER_MS = 120000;

using Clock = std::chrono::steady_clock;

std::string windows_path(const std::string& path) {
    std::string w = "Z:" + path;
    std::replace(w.begin(), w.end(), '/', '\\');
    return w;
}

// A Wine console writes what it shows to its terminal: the benchmark reads
// it away as a terminal window would, for as long as the console lives.
class ConsoleReader {
public:
    void start(int master) {
        stop();
        stopping = false;
        thread = std::thread([this, master] {
            char buf[65536];
            while (!stopping) {
                pollfd p{master, POLLIN, 0};
                if (poll(&p, 1, 50) > 0 && read(master, buf, sizeof buf) < 0 && errno != EAGAIN) return;
            }
        });
    }
    void stop() {
        stopping = true;
        if (thread.joinable()) thread.join();
    }
    ~ConsoleReader() { stop(); }

private:
    std::atomic<bool> stopping{false};
    std::thread thread;
};

ConsoleReader win_reader, writer_reader;

// A request the target knows the answer of: tolvane-win serves the line.
bool answers(int line) {
    target_attach(line, TARGET_WAIT_MS);
    return tolvane::host_fopen("#no such file#", "rb") == 0 && !target_failed();
}

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void record(Series& s, double v) {
    if (std::isnan(v)) ++s.failures;
    else s.values.push_back(v);
}

void record_turnarounds(const std::vector<double>& us, Series& p50, Series& p99) {
    record(p50, us.empty() ? NAN : percentile(us, 50));
    record(p99, us.empty() ? NAN : percentile(us, 99));
}

// Requests answered per second, one after another; NAN for none.
double per_second(const std::vector<double>& us) {
    double total = 0;
    for (double one : us) total += one;
    return us.empty() || total <= 0 ? NAN : static_cast<double>(us.size()) / (total / 1e6);
}

// The text through tolvane-win to its console: written to the line, then a
// request, which it answers once all of the text has gone to the console.
double console_out(WineFloors& f, const std::string& text) {
    if (f.win <= 0) return NAN;
    target_attach(f.line.master, TARGET_WAIT_MS);
    const Clock::time_point start = Clock::now();
    write_text(f.line.master, text);
    const bool answered = tolvane::host_fopen("#no such file#", "rb") == 0 && !target_failed();
    return answered ? static_cast<double>(text.size()) / 1e6 / seconds_since(start) : NAN;
}

// The bare writer: its own seconds for the same text.
double writer_out(WineFloors& f, const std::string& text) {
    const std::string seconds_path = f.dir + "/writer-seconds";
    unlink(seconds_path.c_str());
    const pid_t pid =
        spawn_on_console({f.wine, f.writer, windows_path(f.text_path), windows_path(seconds_path)}, f.writer_console,
                         f.dir);
    const int status = reap(pid, WRITER_MS);
    double seconds = 0;
    std::ifstream in(seconds_path);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || !(in >> seconds) || seconds <= 0) return NAN;
    return static_cast<double>(text.size()) / 1e6 / seconds;
}

}  // namespace

WineFloors start_wine_floors(const Wine& w, const std::string& build_dir, int host_port, int win_port,
                             const std::string& dir, const std::string& file_path, const std::string& text) {
    WineFloors f;
    f.dir = dir;
    f.wine = w.wine;
    f.writer = build_dir + "/win_console_writer.exe";
    const std::string host_exe = build_dir + "/win_bare_host.exe";
    if (!wine_ready(w)) f.missing = "Wine is not ready";
    else if (access(host_exe.c_str(), R_OK) != 0) f.missing = host_exe + " is not built";
    else if (access(f.writer.c_str(), R_OK) != 0) f.missing = f.writer + " is not built";
    if (!f.missing.empty()) return f;
    f.text_path = dir + "/console-text";
    std::ofstream(f.text_path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));

    f.host_line = open_raw_pty();
    if (wine_map_port(w, host_port, f.host_line.path)) {
        int out[2];
        if (pipe(out) == 0) {
            f.host = spawn_on_fds({w.wine, host_exe, std::to_string(host_port), windows_path(file_path)}, 0, out[1], dir);
            close(out[1]);
            if (!wait_for_text(out[0], "serving", START_MS)) f.host = -1;
            close(out[0]);
        }
    }
    if (f.host <= 0) std::fprintf(stderr, "the bare Windows host did not start\n");

    f.line = open_raw_pty();
    f.console = open_raw_pty();
    make_cooked(f.console);
    f.writer_console = open_raw_pty();
    make_cooked(f.writer_console);
    win_reader.start(f.console.master);
    writer_reader.start(f.writer_console.master);
    if (wine_map_port(w, win_port, f.line.path)) {
        f.win = spawn_on_console({w.wine, w.exe, "-c", "COM" + std::to_string(win_port)}, f.console, dir);
        if (!wait_for_text(f.line.master, std::string(50, '\b'), START_MS) || !answers(f.line.master)) f.win = -1;
    }
    if (f.win <= 0) std::fprintf(stderr, "tolvane-win in a Wine console did not start\n");
    return f;
}

void wine_floor_round(WineFloors& f, int piped_line, const std::string& file, int getc_count, const std::string& text,
                      WineFloorResults& r) {
    if (!f.missing.empty()) return;
    target_attach(piped_line, TARGET_WAIT_MS);
    const std::vector<double> piped = getc_turnarounds("read.bin", file, getc_count);
    record_turnarounds(piped, r.p50, r.p99);
    std::vector<double> floor;
    if (f.host > 0) {
        target_attach(f.host_line.master, TARGET_WAIT_MS);
        floor = getc_turnarounds("read.bin", file, getc_count);
    }
    record_turnarounds(floor, r.floor_p50, r.floor_p99);
    record(r.requests, per_second(piped));
    record(r.floor_requests, per_second(floor));
    if (!piped.empty() && !floor.empty()) {
        record_ratio(r.requests.values.back(), r.floor_requests.values.back(), r.requests_ratio);
        record_ratio(r.p50.values.back(), r.floor_p50.values.back(), r.p50_ratio);
        record_ratio(r.p99.values.back(), r.floor_p99.values.back(), r.p99_ratio);
    }
    std::vector<double> in_console;
    if (f.win > 0) {
        target_attach(f.line.master, TARGET_WAIT_MS);
        in_console = getc_turnarounds("read.bin", file, getc_count);
    }
    record(r.console_p50, in_console.empty() ? NAN : percentile(in_console, 50));
    if (!in_console.empty() && !piped.empty()) record_ratio(r.console_p50.values.back(), r.p50.values.back(), r.console_p50_ratio);

    const double mine = console_out(f, text);
    const double bare = writer_out(f, text);
    record(r.console_out, mine);
    record(r.writer_out, bare);
    record_ratio(mine, bare, r.console_out_ratio);
}

bool stop_wine_floors(WineFloors& f, const Wine& w, int host_port, int win_port) {
    bool clean = true;
    if (f.win > 0) {
        write_text(f.console.master, "\x11");  // Ctrl-Q, typed
        const int status = reap(f.win, 5000);
        clean = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (!clean) std::fprintf(stderr, "tolvane-win in a Wine console did not end cleanly on Ctrl-Q\n");
    }
    if (f.host > 0) {
        kill(f.host, SIGKILL);
        reap(f.host, 1000);
    }
    win_reader.stop();
    writer_reader.stop();
    if (f.missing.empty()) {
        wine_unmap_port(w, host_port);
        wine_unmap_port(w, win_port);
    }
    for (PtyPair* p : {&f.host_line, &f.line, &f.console, &f.writer_console}) close_pty(*p);
    return clean;
}

}  // namespace bench
