// End-to-end harness: runs the real tolvane with its line on one
// pseudo-terminal pair and its console on another. The test holds both
// masters: it plays the target on the line and types on the console.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/pty_io.h"
#include "tests/tty_settings.h"

namespace e2e {

using pty_io::bytes;
using pty_io::Bytes;
using pty_io::hex;
using pty_io::reset_sequence;
using pty_io::with_reset;
using pty_io::target_timed_out;
using pty_io::close_pty;
using pty_io::open_pty;
using pty_io::Pty;

// Whether a pty here holds these bits of CSIZE, PARENB, PARODD, CMSPAR,
// CSTOPB and CRTSCTS: Linux forces CS8 and clears PARENB on every pty.
bool pty_holds_frame(tcflag_t cflags);

struct Session {
    pid_t pid = -1;
    Pty line;     // the target's end is line.master
    Pty console;  // tolvane's stdin/stdout/stderr are console.slave
    std::string console_output;  // everything read from the console so far
    int stdout_pipe = -1;        // the read end, with Options::stdout_pipe
    int stdin_pipe = -1;         // the write end, with Options::stdin_pipe
    // The devices' settings just before tolvane started.
    struct termios line_at_start;
    struct termios console_at_start;
};

struct Options {
    std::string workdir;        // empty: the test's own
    bool stdin_null = false;    // stdin from /dev/null instead of the console
    bool stdin_pipe = false;    // stdin from a pipe the test writes (Session::stdin_pipe)
    bool line_pty = true;       // false: no pty for the line ({line} unusable)
    bool stdout_pipe = false;   // stdout into a pipe (Session::stdout_pipe)
    // Runs on the line's slave before tolvane starts: settings left over
    // from an earlier program, say.
    std::function<void(int line_slave)> prepare_line;
    std::string program;        // empty: tolvane_path()
    // false: the program finds no config file, whatever the user running
    // the tests keeps in theirs; true: HOME and XDG_CONFIG_HOME as the test
    // set them.
    bool own_config = false;
};

// Starts tolvane; "{line}" in args stands for the line's slave path.
Session start(const std::vector<std::string>& args, const Options& options = {});

// Waits for the program to end; returns the wait status, or -1 on time-out
// (the program is then killed).
int wait_exit(Session& run, int timeout_ms = 5000);
// Exit status as the shell shows it, or -1 when it did not exit normally.
int exit_code(int wait_status);

// Bytes from the line's master: exactly n unless the time runs out.
Bytes line_read(Session& run, size_t n, int timeout_ms = 3000);
// Everything that arrives on the line until it has been quiet for quiet_ms.
Bytes line_drain(Session& run, int quiet_ms = 200);
void line_write(Session& run, const Bytes& bytes);

// The board prints text as fast as the line takes it, until destroyed. Its
// writes never wait: once tolvane has gone (or never came) nobody reads the
// line, and a blocked write would keep the test from ending.
class LineFlood {
public:
    explicit LineFlood(int line_master);
    ~LineFlood();

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Reads the console until text has appeared (true) or the time runs out.
bool console_wait_for(Session& run, const std::string& text, int timeout_ms = 3000);
// Reads whatever the console shows within quiet_ms of quiet.
std::string console_drain(Session& run, int quiet_ms = 200);
void console_type(Session& run, const Bytes& keys);
// Waits until tolvane has put the console into raw mode.
bool console_wait_raw(Session& run, int timeout_ms = 3000);

// Ctrl-Q once the console is raw: the program must end with status 0.
void end_with_ctrl_q(Session& run);
// Both pty pairs of a run (its pipes are the test's to close); one still
// going is killed first, with its process group, and reaped.
void close_all(Session& run);

// A fresh empty directory under the build tree's scratch area.
std::string scratch_dir(const std::string& name);

// The program under test (set by the build).
std::string tolvane_path();
// The same program built to resolve names under -d by its own walk, as
// where the kernel has no openat2.
std::string tolvane_walk_path();

}  // namespace e2e

namespace e2e {

// The test as the target through the client library: the library's raw
// line operations go to this run's line master. A read that waits over
// three seconds yields ETX and marks a time-out, so a test fails, not hangs.
void target_attach(Session& run);

}  // namespace e2e
