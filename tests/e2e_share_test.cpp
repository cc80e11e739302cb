// --share, -c unix: and --events with the real program: clients on real
// sockets beside the console, the test as the board on the line's pty.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>

#include "client/hostfs.h"
#include "tests/e2e_served.h"
#include "tests/harness.h"
#include "tests/net_servers.h"

using namespace e2e;

namespace {

using Clock = std::chrono::steady_clock;

// One client of the share: a socket the test reads and writes.
struct Client {
    int fd = -1;
    std::string got;

    ~Client() {
        if (fd >= 0) close(fd);
    }
    bool read_until(const std::string& text, int timeout_ms = 3000) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
        while (got.find(text) == std::string::npos && Clock::now() < end) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            char buf[4096];
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0) return false;
            got.append(buf, static_cast<size_t>(n));
        }
        return got.find(text) != std::string::npos;
    }
    void send_text(const std::string& text) { ASSERT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size())); }
};

// Connects, trying for a while: the program may still be starting.
void connect_local(Client& c, const std::string& path) {
    for (int i = 0; i < 150 && c.fd < 0; ++i) {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        path.copy(a.sun_path, sizeof a.sun_path - 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) c.fd = fd;
        else {
            close(fd);
            usleep(20000);
        }
    }
    ASSERT_GE(c.fd, 0) << path;
}

void connect_tcp(Client& c, int port) {
    for (int i = 0; i < 150 && c.fd < 0; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) c.fd = fd;
        else {
            close(fd);
            usleep(20000);
        }
    }
    ASSERT_GE(c.fd, 0) << port;
}

std::string file_text(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Two clients, the console and the file service at once: each sees the
// board's text and no request's byte; each one's bytes reach the board.
TEST(Share, ClientsSeeTheTextAndTypeWhileRequestsAreServed) {
    const int port = free_port();
    Served s;
    serve(s, "share_two", true,
          {"--share", "unix:board.sock", "--share", "tcp:127.0.0.1:" + std::to_string(port), "--events", "ev.jsonl"});
    const std::string sock = s.dir + "/board.sock";
    Client a, b;
    connect_local(a, sock);
    connect_tcp(b, port);
    ASSERT_TRUE(console_wait_for(s.run, "client 2 joined (tcp:127.0.0.1:" + std::to_string(port) + ")"));
    struct stat st;
    ASSERT_EQ(stat(sock.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    line_write(s.run, bytes("before\r\n"));
    ASSERT_TRUE(a.read_until("before\r\n"));
    ASSERT_TRUE(b.read_until("before\r\n"));
    a.send_text("from a\r");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(line_read(s.run, 7).data()), 7), "from a\r");
    b.send_text("from b\r");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(line_read(s.run, 7).data()), 7), "from b\r");

    const host_file f = host_fopen("t.txt", "w");
    ASSERT_NE(f, 0u);
    ASSERT_EQ(host_fwrite("secret", 6, f), 6);
    ASSERT_EQ(host_fclose(f), 0);
    line_write(s.run, bytes("after\n"));
    ASSERT_TRUE(a.read_until("after\n"));
    ASSERT_TRUE(b.read_until("after\n"));
    EXPECT_EQ(a.got, "before\r\nafter\n");
    EXPECT_EQ(b.got, "before\r\nafter\n");
    EXPECT_TRUE(console_wait_for(s.run, "fclose(1) = 0\r\nafter\n")) << console_since_banner(s);
    EXPECT_EQ(file_text(s.dir + "/t.txt"), "secret");

    finish(s);
    EXPECT_FALSE(exists(sock)) << "the socket file stays";
    EXPECT_FALSE(a.read_until("x", 1000)) << "client a still connected";
    const std::string events = file_text(s.dir + "/ev.jsonl");
    EXPECT_NE(events.find("\"event\": \"text\", \"text\": \"before\"}"), std::string::npos) << events;
    EXPECT_NE(events.find("\"event\": \"request\", \"call\": \"fopen(t.txt,w) = 1\"}"), std::string::npos) << events;
    EXPECT_NE(events.find("\"event\": \"client\", \"client\": \"joined\", \"id\": \"2\"}"), std::string::npos) << events;
}

// A board that floods 16 MB past a client that never reads: the client is
// dropped, and the run reaches its end, the console drained all along.
TEST(Share, ClientThatNeverReadsIsDroppedAndNobodyWaits) {
    const std::string dir = scratch_dir("share_stall");
    Options options;
    options.workdir = dir;
    options.stdout_pipe = true;
    options.stdin_null = true;
    Session s = start({"-c", "{line}", "--no-erase", "--share", "unix:s.sock", "--expect", "@END", "--timeout", "60"},
                      options);
    Client stuck;
    connect_local(stuck, dir + "/s.sock");
    const int small = 4096;
    setsockopt(stuck.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    fcntl(s.line.master, F_SETFL, fcntl(s.line.master, F_GETFL) | O_NONBLOCK);
    fcntl(s.stdout_pipe, F_SETFL, fcntl(s.stdout_pipe, F_GETFL) | O_NONBLOCK);

    std::string board;
    const std::string line = std::string(99, 'x') + "\n";
    while (board.size() < (size_t{16} << 20)) board += line;
    board += "@END\n";
    std::string shown;
    size_t sent = 0;
    int status = -1;
    const auto give_up = Clock::now() + std::chrono::seconds(90);
    while (status < 0 && Clock::now() < give_up) {
        pollfd p[2] = {{sent < board.size() ? s.line.master : -1, POLLOUT, 0}, {s.stdout_pipe, POLLIN, 0}};
        poll(p, 2, 20);
        if (p[0].revents & POLLOUT) {
            const ssize_t n = write(s.line.master, board.data() + sent, std::min<size_t>(4096, board.size() - sent));
            if (n > 0) sent += static_cast<size_t>(n);
        }
        char buf[65536];
        for (ssize_t n; (n = read(s.stdout_pipe, buf, sizeof buf)) > 0;) {
            // Only the program's own lines are kept: the text is 16 MB.
            for (ssize_t i = 0; i < n; ++i)
                if (buf[i] != 'x') shown += buf[i];
        }
        int w = 0;
        if (waitpid(s.pid, &w, WNOHANG) == s.pid) {
            s.pid = -1;
            status = exit_code(w);
        }
    }
    EXPECT_EQ(status, 0) << shown.substr(0, 2000);
    EXPECT_NE(shown.find("client 1 dropped: 1 MiB unsent"), std::string::npos) << shown.substr(0, 2000);
    EXPECT_FALSE(exists(dir + "/s.sock"));
    close(s.stdout_pipe);
    close_all(s);
}

// A second terminal on the share types to the board, sees its text, and
// leaves without ending the one that owns the line.
TEST(Share, SecondTerminalTypesAndLeaves) {
    const std::string dir = scratch_dir("share_attach");
    Options owner_options;
    owner_options.workdir = dir;
    Session owner = start({"-c", "{line}", "--no-erase", "--share", "unix:o.sock"}, owner_options);
    ASSERT_TRUE(console_wait_for(owner, "Exit with Ctrl-Q\r\n\r\n"));
    Options second_options;
    second_options.workdir = dir;
    second_options.line_pty = false;
    Session second = start({"-c", "unix:o.sock"}, second_options);
    ASSERT_TRUE(console_wait_for(second, "Exit with Ctrl-Q\r\n\r\n")) << second.console_output;
    ASSERT_TRUE(console_wait_raw(second));
    ASSERT_TRUE(console_wait_for(owner, "client 1 joined (unix:o.sock)"));

    console_type(second, bytes("ls\r"));
    EXPECT_EQ(hex(line_read(owner, 3)), hex(bytes("ls\r")));
    line_write(owner, bytes("a.txt\r\n"));
    EXPECT_TRUE(console_wait_for(second, "a.txt\r\n"));
    EXPECT_TRUE(console_wait_for(owner, "a.txt\r\n"));

    end_with_ctrl_q(second);
    EXPECT_TRUE(console_wait_for(owner, "client 1 left"));
    int w = 0;
    EXPECT_EQ(waitpid(owner.pid, &w, WNOHANG), 0) << "the owner ended too";
    end_with_ctrl_q(owner);
    EXPECT_FALSE(exists(dir + "/o.sock"));
    close_all(second);
    close_all(owner);
}

// --lend: the command gets the line free (it opens and locks it) and
// writes to the board; its status is --lend's; the owner takes the line
// back and shows what the board says next, the client still there.
TEST(Share, LendRunsACommandWithTheLineAndTakesItBack) {
    const std::string dir = scratch_dir("share_lend");
    Options owner_options;
    owner_options.workdir = dir;
    Session owner = start({"-c", "{line}", "--no-erase", "--share", "unix:l.sock"}, owner_options);
    ASSERT_TRUE(console_wait_for(owner, "Exit with Ctrl-Q\r\n\r\n"));
    Client watcher;
    connect_local(watcher, dir + "/l.sock");
    ASSERT_TRUE(console_wait_for(owner, "client 1 joined"));

    Options lender_options;
    lender_options.workdir = dir;
    lender_options.line_pty = false;
    const std::string flasher = "exec 3<>\"$TOLVANE_DEVICE\" && flock -n 3 && printf 'flashed\\r\\n' >&3 && exit 3";
    Session lender = start({"--lend", "unix:l.sock", "--", "sh", "-c", flasher}, lender_options);
    EXPECT_EQ(exit_code(wait_exit(lender, 10000)), 3) << lender.console_output;
    EXPECT_EQ(hex(line_read(owner, 9)), hex(bytes("flashed\r\n")));
    EXPECT_TRUE(console_wait_for(owner, "line lent to sh -c exec"));
    EXPECT_TRUE(console_wait_for(owner, "line back\r\n"));

    line_write(owner, bytes("booted\r\n"));
    EXPECT_TRUE(console_wait_for(owner, "booted\r\n"));
    EXPECT_GT(owner.console_output.find("booted"), owner.console_output.find("line back")) << owner.console_output;
    EXPECT_TRUE(watcher.read_until("booted\r\n"));
    end_with_ctrl_q(owner);
    close_all(lender);
    close_all(owner);
}

// Ctrl-T f: the same for the --flash command, from the console.
TEST(Share, CtrlTFLendsTheLineToTheFlashCommand) {
    Options options;
    options.workdir = scratch_dir("share_flash");
    const std::string flasher = "exec 3<>\"$TOLVANE_DEVICE\" && flock -n 3 && printf 'new\\r\\n' >&3 && exit 5";
    Session owner = start({"-c", "{line}", "--no-erase", "--flash", flasher}, options);
    ASSERT_TRUE(console_wait_raw(owner));
    console_type(owner, bytes("\x14" "f"));
    EXPECT_EQ(hex(line_read(owner, 5)), hex(bytes("new\r\n")));
    EXPECT_TRUE(console_wait_for(owner, " ended with status 5\r\nline back\r\n")) << owner.console_output;
    line_write(owner, bytes("up\r\n"));
    EXPECT_TRUE(console_wait_for(owner, "line back\r\nup\r\n")) << owner.console_output;
    end_with_ctrl_q(owner);
    close_all(owner);
}

}  // namespace
