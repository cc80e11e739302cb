#include "bench/lrzsz.h"

#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int TRANSFER_MS = 120000;
// rz's own wait for the last two bytes is 3 times 10 s; ours is shorter.
constexpr int RZ_END_MS = 5000;

std::string file_content(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void drain_master(int fd) {
    char buf[4096];
    while (read(fd, buf, sizeof buf) > 0) {
    }
}

bool exited_ok(int status) { return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0; }

}  // namespace

Flow lrzsz_send(Lrzsz& peer, const std::string& name, const std::string& expected) {
    Flow f;
    make_raw(peer.pair);
    drain_master(peer.pair.master);
    std::remove((peer.receive_dir + "/" + name).c_str());
    set_blocking(peer.pair.master, true);  // rz gets the master as it is
    long long sz_cpu = 0;
    const auto start = Clock::now();
    const pid_t sender = spawn_on_fd({peer.sz, "-q", "-b", name}, peer.pair.slave, peer.send_dir);
    const pid_t receiver = spawn_on_fd({peer.rz, "-q", "-b", "-y"}, peer.pair.master, peer.receive_dir);
    const int sent = reap(sender, TRANSFER_MS, &sz_cpu);
    f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    // sz ends with its "OO" and then flushes the line; on a pty (unlike a
    // UART) the flush can take the "OO" before rz reads it, and rz waits
    // 30 s for it. So the bytes are sent again, as the cable would have.
    const bool resent = write(peer.pair.slave, "OO", 2) == 2;
    const int received = reap(receiver, RZ_END_MS);
    set_blocking(peer.pair.master, false);
    drain_master(peer.pair.master);
    f.cpu_seconds = static_cast<double>(sz_cpu) / 1e9;
    f.ok = resent && exited_ok(sent) && exited_ok(received) && file_content(peer.receive_dir + "/" + name) == expected;
    return f;
}

}  // namespace bench
