// Byte I/O with time-outs on pseudo-terminal masters, shared by the
// end-to-end harnesses of both programs, and the test's side as the target:
// the client library's raw line operations on one master.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace pty_io {

using Bytes = std::vector<uint8_t>;

// Milliseconds until deadline, 0 once it has passed.
int ms_left(std::chrono::steady_clock::time_point deadline);

// One read with a time-out; 0 bytes on time-out or end.
ssize_t read_some(int fd, uint8_t* buf, size_t n, int timeout_ms);
void write_all(int fd, const Bytes& bytes);
// Exactly n bytes unless the time runs out.
Bytes read_exactly(int fd, size_t n, int timeout_ms);
// Everything that arrives until the fd has been quiet for quiet_ms.
Bytes read_until_quiet(int fd, int quiet_ms);
// Everything up to end of file (or until the time runs out).
std::string read_all(int fd, int timeout_ms);

Bytes bytes(const std::string& s);
std::string hex(const Bytes& b);
Bytes reset_sequence();  // the 50 backspaces every start sends
Bytes with_reset(const std::string& words);  // the reset, then words as sent

// A file's bytes ("" when it cannot be read).
std::string file_text(const std::string& path);
// User plus system CPU time of a process so far, in clock ticks.
long cpu_ticks(pid_t pid);

// A fresh empty directory below root.
std::string scratch_dir(const std::string& root, const std::string& name);

// The client library's raw operations go to fd. A read that waits longer
// than timeout_ms yields ETX and marks a time-out, so a test fails, not hangs.
void target_attach(int fd, int timeout_ms);
bool target_timed_out();

struct Pty {
    int master = -1;
    int slave = -1;  // kept open by the test to look at the device's settings
    std::string path;
};

// A pty pair whose slave starts raw (no echo), as a quiet serial line
// would; neither end is inherited by a program the test starts.
Pty open_pty(speed_t speed = B38400);
void close_pty(Pty& pty);

// A peer on the board's side of the line (lrzsz's rb, rx, sb): run in dir
// on a pty of its own, whose bytes a thread relays to and from the line's
// master, so that the settings it gives its terminal stay its own.
struct Peer {
    pid_t pid = -1;
    int master = -1;
    int slave = -1;
    int line_master = -1;
    std::atomic<bool> stop{false};
    std::thread relay;
};
void peer_start(Peer& peer, int line_master, const std::vector<std::string>& argv, const std::string& dir);
// Waits for it to end, then stops the relay: the exit status as the shell
// sees it, or -1 on time-out (it is killed then).
int peer_finish(Peer& peer, int timeout_ms = 120000);

// A file's bytes, binary ("" when it cannot be read).
std::string file_bytes(const std::string& path);
// count random bytes (seeded: the same each run) written to path.
std::string random_file(const std::string& path, size_t count);

}  // namespace pty_io
