// tolvane-sim: a small board with a shell on a simulated serial line, for
// trying tolvane without hardware. It prints the path of the line to give
// tolvane (-c) and serves one tolvane after another until it is told to end.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/link.h"
#include "sim/line.h"
#include "sim/log.h"
#include "sim/shell.h"
#include "client/hostfs.h"

namespace {

struct Options {
    const char* path_file = nullptr;  // -f
    const char* link_name = nullptr;  // -l
    bool once = false;                // -o
    int reply_timeout_ms = 2000;      // -t
    bool verbose = false;             // -v
};

int stop_pipe[2] = {-1, -1};

void on_signal(int) {
    const int saved = errno;
    const char b = 1;
    if (write(stop_pipe[1], &b, 1) < 0) {
        // The pipe is full: a stop is already pending.
    }
    errno = saved;
}

bool watch_signals() {
    if (pipe(stop_pipe) != 0) return false;
    for (int fd : stop_pipe) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

void usage(const char* argv0) {
    std::fprintf(stderr,
                 "usage: %s [-o] [-v] [-f FILE] [-l LINK] [-t MS]\n"
                 "  -f FILE  also write the line's path to FILE\n"
                 "  -l LINK  make LINK a symbolic link to the line\n"
                 "  -o       end when the first tolvane on the line closes it\n"
                 "  -t MS    wait MS milliseconds for the host to answer a request (2000)\n"
                 "  -v       tell on standard error when a host comes and goes and what runs\n",
                 argv0);
}

bool parse_options(int argc, char* argv[], Options* o) {
    int c;
    while ((c = getopt(argc, argv, "f:l:ot:v")) != -1) {
        switch (c) {
        case 'f': o->path_file = optarg; break;
        case 'l': o->link_name = optarg; break;
        case 'o': o->once = true; break;
        case 'v': o->verbose = true; break;
        case 't': {
            char* end = nullptr;
            const long ms = std::strtol(optarg, &end, 10);
            if (*end != '\0' || ms <= 0 || ms > 3600000) return false;
            o->reply_timeout_ms = static_cast<int>(ms);
            break;
        }
        default: return false;
        }
    }
    return optind == argc;
}

// Written under another name first, so a script waiting for the file never
// reads half of it.
bool write_path_file(const char* file, const std::string& path) {
    const std::string partial = std::string(file) + ".part";
    FILE* f = std::fopen(partial.c_str(), "w");
    if (!f) return false;
    const bool ok = std::fprintf(f, "%s\n", path.c_str()) > 0 && std::fclose(f) == 0;
    return ok && std::rename(partial.c_str(), file) == 0;
}

bool publish(const Options& o, const std::string& path) {
    if (o.path_file && !write_path_file(o.path_file, path)) {
        std::fprintf(stderr, "tolvane-sim: %s: %s\n", o.path_file, std::strerror(errno));
        return false;
    }
    if (o.link_name) {
        unlink(o.link_name);
        if (symlink(path.c_str(), o.link_name) != 0) {
            std::fprintf(stderr, "tolvane-sim: %s: %s\n", o.link_name, std::strerror(errno));
            return false;
        }
    }
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    return true;
}

void unpublish(const Options& o) {
    if (o.path_file) unlink(o.path_file);
    if (o.link_name) unlink(o.link_name);
}

void serve(const Options& o) {
    bool had_host = false;
    for (;;) {
        switch (sim::line_wait()) {
        case sim::LineEvent::attached:
            sim::log_note("host attached");
            had_host = true;
            sim::shell_greet();
            break;
        case sim::LineEvent::input:
            sim::shell_input(tolvane::link_get());
            break;
        case sim::LineEvent::detached:
            sim::log_note("host gone");
            if (o.once && had_host) return;
            break;
        case sim::LineEvent::stop:
            return;
        }
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    Options o;
    if (!parse_options(argc, argv, &o)) {
        usage(argv[0]);
        return 2;
    }
    if (!watch_signals()) {
        std::fprintf(stderr, "tolvane-sim: pipe: %s\n", std::strerror(errno));
        return 1;
    }
    sim::log_enable(o.verbose);
    const std::string path = sim::line_open();
    if (path.empty()) return 1;
    sim::line_set_stop_fd(stop_pipe[0]);
    sim::line_set_reply_timeout(o.reply_timeout_ms);
    tolvane::host_set_stray_byte_handler(sim::shell_stray_byte);
    if (!publish(o, path)) {
        unpublish(o);
        return 1;
    }
    serve(o);
    unpublish(o);
    return 0;
}
