// Pseudo-terminal pairs, child processes on them, and what a child has
// cost in CPU: the plumbing every measurement of the benchmark shares.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace bench {

struct PtyPair {
    int master = -1;  // non-blocking; the benchmark's end
    int slave = -1;   // held open so the pair lives between programs
    std::string path;
};

// A pair whose slave is raw both ways, as a quiet serial line is.
PtyPair open_raw_pty();
// The slave as a user's terminal starts: echoing, line by line, output
// processing on. Programs that want raw mode must set it themselves.
void make_cooked(const PtyPair& pty);
void make_raw(const PtyPair& pty);
void close_pty(PtyPair& pty);

// Starts argv in dir with stdin, stdout and stderr on the console's slave,
// which becomes its controlling terminal, as in a terminal window.
pid_t spawn_on_console(const std::vector<std::string>& argv, const PtyPair& console, const std::string& dir);
// Starts argv in dir with stdin and stdout on fd and stderr on /dev/null.
pid_t spawn_on_fd(const std::vector<std::string>& argv, int fd, const std::string& dir);
// The same with stdin on in and stdout on out.
pid_t spawn_on_fds(const std::vector<std::string>& argv, int in, int out, const std::string& dir);

// Reads fd until text has arrived (true) or timeout_ms have passed.
bool wait_for_text(int fd, const std::string& text, int timeout_ms);
// Writes all of text to the non-blocking fd, waiting for room up to a
// second at a time.
void write_text(int fd, const std::string& text);

// Nanoseconds the process has run on a CPU so far (all its threads), or -1
// when it is gone. Finer than utime/stime, which count 10 ms ticks.
long long cpu_ns(pid_t pid);

// Waits up to timeout_ms for the child to end, and wakes the moment it
// does; kills it after that. Returns its wait status, or -1 if it had to be
// killed. cpu_ns, when given, gets the CPU time the child used in all.
int reap(pid_t pid, int timeout_ms, long long* cpu_ns = nullptr);

void set_blocking(int fd, bool blocking);

// The program's path through PATH (or as given when it has a slash), or ""
// when it is not installed.
std::string find_program(const std::string& name);

// A fresh empty directory.
std::string fresh_dir(const std::string& path);

}  // namespace bench
