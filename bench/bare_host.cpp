#include "bench/bare_host.h"

#include <signal.h>
#include <unistd.h>

#include "bench/bare_requests.h"
#include "bench/target_line.h"
#include "link/link.h"

namespace bench {

namespace {

constexpr int IDLE_LIMIT_MS = 600000;

bool line_up() { return !target_failed(); }

// The child: the benchmark's own buffered line, on the other end.
[[noreturn]] void serve(int fd, const std::string& content) {
    using namespace tolvane;
    target_attach(fd, IDLE_LIMIT_MS);
    BareFile file;
    file.content = &content;
    while (!target_failed()) {
        if (link_get() == SYM_STX) bare_answer(file, line_up);
    }
    _exit(0);
}

}  // namespace

pid_t start_bare_host(const PtyPair& pair, const std::string& content) {
    make_raw(pair);
    const pid_t pid = fork();
    if (pid == 0) {
        close(pair.master);
        set_blocking(pair.slave, false);
        serve(pair.slave, content);
    }
    return pid;
}

void stop_bare_host(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    reap(pid, 1000);
}

}  // namespace bench
