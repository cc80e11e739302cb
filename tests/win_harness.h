// End-to-end harness for tolvane-win under Wine. The program runs in a Wine
// prefix of the build tree's own; its COM port is a pseudo-terminal whose
// master the test holds and plays the target on. Output goes to pipes, or,
// where the console matters, to a tmux pane.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/pty_io.h"

namespace win_e2e {

using pty_io::bytes;
using pty_io::Bytes;
using pty_io::hex;
using pty_io::reset_sequence;
using pty_io::with_reset;
using pty_io::target_timed_out;

// A pty mapped to COM<number> in the prefix. The test keeps the slave open
// too, to look at what the program set.
struct Line {
    int number = 0;
    int master = -1;
    int slave = -1;
    std::string path;
};

Line line_open(int number);
void line_close(Line& line);

// Bytes from the line: exactly n unless the time runs out.
Bytes line_read(Line& line, size_t n, int timeout_ms = 5000);
// Everything that arrives until the line has been quiet for quiet_ms.
Bytes line_drain(Line& line, int quiet_ms = 300);
// What arrives, as hex: the bytes awaited_hex names are waited for (Wine on
// a busy machine can take seconds to pass a key on), then anything more
// until the line has been quiet for quiet_ms, so a byte too many shows.
std::string line_hex(Line& line, const std::string& awaited_hex, int quiet_ms = 300);
void line_write(Line& line, const Bytes& bytes);

// tolvane-win with standard input from /dev/null (or a pipe the test
// writes keys into) and its output on pipes.
struct Program {
    pid_t pid = -1;
    int in_fd = -1;  // the keys' pipe, with keys_piped
    int out_fd = -1;
    int err_fd = -1;
    std::string output;  // standard output so far
    std::string errors;  // standard error so far (Wine's own complaints)
};

enum class Keys { none, piped };
Program start(const std::vector<std::string>& args, const std::string& workdir = "", Keys keys = Keys::none);
// Any program, argv[0] its path, run the same way (tolvane itself, say).
Program start_program(const std::vector<std::string>& argv, const std::string& workdir = "",
                      Keys keys = Keys::none);
// Writes keys into the pipe (from a thread of its own where they are many);
// closing it is the end of input.
void keys_write(Program& run, const std::string& keys);
void keys_close(Program& run);
// Waits for the end; the exit status as the shell sees it, or -1 on
// time-out (the program is killed then).
int finish(Program& run, int timeout_ms = 10000);
// Reads standard output until text has appeared.
bool output_wait_for(Program& run, const std::string& text, int timeout_ms = 10000);
// Reads standard output until it holds size bytes.
bool output_wait_size(Program& run, size_t size, int timeout_ms = 10000);
// Reads standard output until it has been quiet for quiet_ms.
void output_collect(Program& run, int quiet_ms = 300);
void kill_run(Program& run);

// tolvane-win in a tmux pane: a real Wine console.
struct Pane {
    std::string socket;
    std::string status_file;  // gets the exit status when the program ends
};

Pane pane_start(const std::vector<std::string>& args, const std::string& workdir);
// Another Windows program of the build in a pane (unit_tests.exe, say).
Pane pane_start_program(const std::string& exe, const std::vector<std::string>& args, const std::string& workdir);
std::string pane_text(const Pane& pane);
// The same with the escapes of its colours and other attributes.
std::string pane_styled_text(const Pane& pane);
bool pane_wait_for(const Pane& pane, const std::string& text, int timeout_ms = 10000);
// The banner's last line in the pane. A console's start is given longer
// than a text's arrival: a busy wineserver has been seen to take over 10 s.
bool pane_started(const Pane& pane);
// tmux key names ("x", "C-b", "Up", "BSpace"), one send-keys each.
void pane_keys(const Pane& pane, const std::vector<std::string>& keys);
// Pastes text into the pane in one go, as a terminal's paste does.
void pane_paste(const Pane& pane, const std::string& text);
// The exit status once the program has ended, -1 after the time-out.
int pane_exit_status(const Pane& pane, int timeout_ms = 10000);
void pane_close(Pane& pane);

std::string dos_newlines_to_unix(std::string s);

// CPU seconds used so far by the program and by the Wine server of its
// prefix (not the other prefixes' servers on the machine).
double cpu_seconds(const Program& run);

std::string exe_path();                            // the program, as a Linux path
std::string build_path(const std::string& name);    // another file of its build
std::string windows_path(const std::string& path);  // as Wine shows it: Z:\...
std::string scratch_dir(const std::string& name);   // fresh and empty

// The test as the target, through the target library, on this line. A read
// that waits over five seconds yields ETX and marks a time-out.
void target_attach(Line& line);

// A test in a Wine console: tolvane-win on COM<port> in a tmux pane, its
// banner shown and its reset bytes read; closed after the test.
class PaneTest : public testing::Test {
protected:
    PaneTest(const char* name, int port) : name_(name), port_(port) {}
    void SetUp() override {
        dir = scratch_dir(name_);
        line = line_open(port_);
        pane = pane_start({"-c", "COM" + std::to_string(port_)}, dir);
        ASSERT_TRUE(pane_started(pane)) << pane_text(pane);
        ASSERT_EQ(hex(line_read(line, 50)), hex(reset_sequence()));
    }
    void TearDown() override {
        pane_close(pane);
        line_close(line);
    }

    std::string dir;
    Line line;
    Pane pane;

private:
    const char* name_;
    int port_;
};

}  // namespace win_e2e
