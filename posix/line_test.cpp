// The line's waits against a signal that is already pending when the wait
// begins: it must end the program by that signal with the line put back,
// never leave poll asleep.
#include "base/line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>

#include "base/wait.h"
#include "link/link.h"
#include "posix/fd_transport.h"
#include "posix/signals.h"
#include "tests/tty_settings.h"

namespace {

struct Pty {
    int master = -1;
    int slave = -1;
    char path[64] = {};
    struct termios before {};
};

Pty open_test_pty() {
    Pty p;
    EXPECT_EQ(openpty(&p.master, &p.slave, p.path, nullptr, nullptr), 0);
    EXPECT_EQ(tcgetattr(p.slave, &p.before), 0);
    return p;
}

bool settings_back(const Pty& p) { return same_settings(settings(p.slave), p.before); }

// In the child: the line opened and the handlers set, then the signal.
// alarm turns a hang into a death by the wrong signal.
void open_line_and_signal(tolvane::line_state& line, const Pty& p) {
    alarm(5);
    tolvane::line_settings settings;
    settings.device = p.path;
    settings.baud = 9600;
    if (!tolvane::line_open(line, settings)) _exit(1);
    tolvane::stop_watch_signals();
    raise(SIGTERM);
}

TEST(LineWait, SignalBeforeAReadWaitEndsByTheSignal) {
    Pty p = open_test_pty();
    EXPECT_EXIT(
        {
            tolvane::line_state line;
            open_line_and_signal(line, p);
            tolvane::wait_once(line, tolvane::WAIT_INPUT, tolvane::deadline::never());  // nothing on the line
            _exit(2);
        },
        testing::KilledBySignal(SIGTERM), "");
    EXPECT_TRUE(settings_back(p));
    close(p.master);
    close(p.slave);
}

TEST(LineWait, SignalBeforeAWriteWaitEndsByTheSignal) {
    Pty p = open_test_pty();
    EXPECT_EXIT(
        {
            tolvane::line_state line;
            open_line_and_signal(line, p);
            // Fill the line until the next byte must wait.
            const char fill[256] = {};
            const int fd = static_cast<tolvane::fd_transport*>(tolvane::line_transport_now(line))->fd;
            while (write(fd, fill, sizeof fill) > 0) {
            }
            tolvane::line_put_raw(line, 'A');
            tolvane::line_close(line);
            _exit(2);
        },
        testing::KilledBySignal(SIGTERM), "");
    EXPECT_TRUE(settings_back(p));
    close(p.master);
    close(p.slave);
}

}  // namespace
