// tolvane-win's ways out where nothing gives way: a port nobody reads with
// keys queued for it, and a target that opens the console as a file. Ctrl-Q
// and --timeout end the program within tolvane's bounds all the same.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "client/hostfs.h"
#include "tests/win_harness.h"

using namespace win_e2e;
using namespace tolvane;

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

// More keys than the port takes (the test never reads it: a board halted
// at a breakpoint), then Ctrl-Q, or the --timeout: what is queued gets its
// half second, then the program ends with its status. Keys of two bytes
// (DLE and the byte) ask for two bytes of room.
TEST(WinWaysOut, AStuckLineEndsOnCtrlQAndOnTheTimeOut) {
    const struct {
        const char* what;
        std::vector<std::string> options;
        std::string keys;
        int status;
        double within_s;  // from the first key on
    } cases[] = {
        {"40 KB, Ctrl-Q", {}, std::string(40000, 'a') + "\x11", 0, 2},
        {"400 KB, Ctrl-Q", {}, std::string(400000, 'a') + "\x11", 0, 2},
        {"Ctrl-B keys, Ctrl-Q", {}, std::string(40000, '\x02') + "\x11", 0, 2},
        {"--timeout 1", {"--timeout", "1"}, std::string(400000, 'a'), 124, 1 + 2},
    };
    for (const auto& c : cases) {
        const std::string dir = scratch_dir("win-stuck-line");
        Line line = line_open(48);
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"-c", "COM48"});
        Program run = start(args, dir, Keys::piped);
        ASSERT_TRUE(output_wait_for(run, "Exit with Ctrl-Q\r\n\r\n")) << run.output << run.errors;
        const Clock::time_point typed = Clock::now();
        std::thread typist([&] { keys_write(run, c.keys); });
        const int status = finish(run, 20000);
        const double took = seconds_since(typed);
        typist.join();
        EXPECT_EQ(status, c.status) << c.what << "\n" << run.output;
        EXPECT_LT(took, c.within_s) << c.what;
        line_close(line);
    }
}

// A target that opens the console itself (CON, CONIN$ and their device
// paths) gets a failed open at once; its read cannot take the keys, and
// Ctrl-Q still ends the program.
TEST(WinWaysOut, TheConsoleIsNoFileForTheTarget) {
    const std::string dir = scratch_dir("win-console-file");
    Line line = line_open(49);
    Pane pane = pane_start({"-r", "-c", "COM49"}, dir);
    ASSERT_TRUE(pane_started(pane)) << pane_text(pane);
    ASSERT_EQ(hex(line_read(line, 50)), hex(reset_sequence()));
    target_attach(line);
    for (const char* name : {"CON", "CONIN$", "conout$", "\\\\.\\CONIN$", "sub\\con.txt", "NUL", "COM49"}) {
        for (const char* mode : {"rb", "r+b"}) {
            const Clock::time_point asked = Clock::now();
            const host_file f = host_fopen(name, mode);
            EXPECT_EQ(f, 0u) << name << " " << mode;
            EXPECT_LT(seconds_since(asked), 1.0) << name;
            if (f != 0) host_fclose(f);
        }
    }
    EXPECT_FALSE(target_timed_out());
    EXPECT_TRUE(pane_wait_for(pane, "fopen(CONIN$,rb) = 0")) << pane_text(pane);
    pane_keys(pane, {"C-q"});
    EXPECT_EQ(pane_exit_status(pane), 0);
    pane_close(pane);
    line_close(line);
}
