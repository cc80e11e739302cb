#include "bench/bare_host.h"

#include <signal.h>
#include <unistd.h>

#include "bench/target_line.h"
#include "link/link.h"

namespace bench {

namespace {

constexpr int IDLE_LIMIT_MS = 600000;
constexpr uint32_t HANDLE = 1;

// A write's data to its ETX, each byte held against content from at on;
// false once one differs or goes past its end.
bool take_written(const std::string& content, size_t& at) {
    using namespace tolvane;
    bool same = true;
    for (int s = link_get(); s != SYM_ETX && !target_failed(); s = link_get()) {
        same = same && at < content.size() && static_cast<unsigned char>(content[at]) == (s & 0xFF);
        ++at;
    }
    return same;
}

// The child: the benchmark's own buffered line, on the other end.
[[noreturn]] void serve(int fd, const std::string& content) {
    using namespace tolvane;
    target_attach(fd, IDLE_LIMIT_MS);
    size_t at = 0;
    bool written_as_content = true;
    while (!target_failed()) {
        if (link_get() != SYM_STX) continue;
        link_put(SYM_ETX);
        switch (link_get()) {
        case 0: {  // open: the name and mode are not looked at
            char text[LINK_STRING_MAX + 1];
            link_get_string(text);
            link_get_string(text);
            at = 0;
            written_as_content = true;
            link_put_u32(HANDLE);
            break;
        }
        case 1: {  // read
            const int32_t count = static_cast<int32_t>(link_get_u32());
            link_get_u32();
            int32_t sent = 0;
            for (; sent < count && at < content.size(); ++sent) link_put(static_cast<unsigned char>(content[at++]));
            if (sent < count) link_put(SYM_ETX);
            break;
        }
        case 2:  // write: no answer
            link_get_u32();
            written_as_content = take_written(content, at) && written_as_content;
            break;
        case 3:  // close: -1 when what was written is not the content
            link_get_u32();
            link_put_u16(written_as_content ? 0 : 0xFFFF);
            break;
        case 4:  // get character
            link_get_u32();
            link_put_u16(at < content.size() ? static_cast<unsigned char>(content[at++]) : 0xFFFF);
            break;
        default:
            break;
        }
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
