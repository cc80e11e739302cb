// --share rfc2217: with real clients: pyserial's rfc2217://, and tolvane's
// own -c rfc2217://, the test as the board on the line's pty.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/harness.h"
#include "tests/line_speed.h"
#include "tests/net_servers.h"

using namespace e2e;

namespace {

// A Python that has pyserial (Debian's python3-serial is the system's);
// empty when none has.
std::string python_with_pyserial() {
    for (const char* python : {"/usr/bin/python3", "python3"})
        if (std::system((std::string(python) + " -c 'import serial' 2>/dev/null").c_str()) == 0) return python;
    return "";
}

// The client script, its output read a line at a time; stdin its go.
struct Script {
    FILE* out = nullptr;
    int go = -1;
    pid_t pid = -1;

    std::string next_line() {
        char line[512];
        if (std::fgets(line, sizeof line, out) == nullptr) return "(ended)";
        std::string text = line;
        if (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }
    void carry_on() { ASSERT_EQ(write(go, "\n", 1), 1); }
};

Script run_script(const std::string& python, int port) {
    int to_child[2], from_child[2];
    Script s;
    if (pipe(to_child) != 0 || pipe(from_child) != 0) return s;
    s.pid = fork();
    if (s.pid == 0) {
        dup2(to_child[0], 0);
        dup2(from_child[1], 1);
        close(to_child[1]);
        close(from_child[0]);
        const std::string script = std::string(TOLVANE_SOURCE_DIR) + "/tests/rfc2217_client.py";
        const std::string port_text = std::to_string(port);
        execlp(python.c_str(), python.c_str(), script.c_str(), port_text.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(to_child[0]);
    close(from_child[1]);
    s.go = to_child[1];
    s.out = fdopen(from_child[0], "r");
    return s;
}

// pyserial opens at 57600 Baud, reads the board's text, types, purges both
// ways, changes the speed and the stop bits, sends a break and drops DTR:
// each answered, so that none of its waits times out.
TEST(ShareRfc2217, PyserialSetsTheLineReadsAndTypes) {
    const std::string python = python_with_pyserial();
    if (python.empty()) GTEST_SKIP() << "no pyserial (python3-serial; scripts/install-deps.sh all installs it)";
    const int port = free_port();
    Session run = start({"-c", "{line}", "--plain", "--share", "rfc2217:127.0.0.1:" + std::to_string(port)});
    ASSERT_TRUE(console_wait_for(run, "Exit with Ctrl-Q"));
    Script client = run_script(python, port);
    ASSERT_EQ(client.next_line(), "open");
    EXPECT_EQ(line_speed::read(run.line.slave).baud, 57600);
    client.carry_on();
    line_write(run, bytes("\xff text from the board\n"));
    EXPECT_EQ(client.next_line(), "read " + hex(bytes("\xff text from the board\n")));
    EXPECT_EQ(hex(line_read(run, 4)), hex(bytes("key\xff")));
    EXPECT_EQ(client.next_line(), "purged");
    EXPECT_EQ(client.next_line(), "set");
    EXPECT_EQ(line_speed::read(run.line.slave).baud, 9600);
    struct termios t;
    ASSERT_EQ(tcgetattr(run.line.slave, &t), 0);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    client.carry_on();
    EXPECT_EQ(client.next_line(), "cts False");  // a pty has no modem lines
    EXPECT_EQ(client.next_line(), "done");
    fclose(client.out);
    close(client.go);
    int status = 0;
    waitpid(client.pid, &status, 0);
    EXPECT_EQ(exit_code(status), 0);
    EXPECT_TRUE(console_wait_for(run, "client 1 left"));
    end_with_ctrl_q(run);
    close_all(run);
}

// tolvane's own rfc2217:// line on the share: the speed it asks is the
// line's, the board's text reaches its console, its keys the board.
TEST(ShareRfc2217, TolvaneAttachesAsAClient) {
    const int port = free_port();
    Session owner = start({"-c", "{line}", "--plain", "--share", "rfc2217:127.0.0.1:" + std::to_string(port)});
    ASSERT_TRUE(console_wait_for(owner, "Exit with Ctrl-Q"));
    Options o;
    o.line_pty = false;
    Session client = start({"-c", "rfc2217://127.0.0.1:" + std::to_string(port), "-b", "19200", "--plain"}, o);
    ASSERT_TRUE(console_wait_for(client, "Exit with Ctrl-Q\r\n\r\n")) << client.console_output;
    ASSERT_TRUE(console_wait_raw(client));
    EXPECT_EQ(line_speed::read(owner.line.slave).baud, 19200);
    console_type(client, bytes("ls\r"));
    EXPECT_EQ(hex(line_read(owner, 3)), hex(bytes("ls\r")));
    line_write(owner, bytes("a.txt \xff\r\n"));
    EXPECT_TRUE(console_wait_for(client, "a.txt \xff\r\n"));
    end_with_ctrl_q(client);
    EXPECT_TRUE(console_wait_for(owner, "client 1 left"));
    end_with_ctrl_q(owner);
    close_all(client);
    close_all(owner);
}

}  // namespace
