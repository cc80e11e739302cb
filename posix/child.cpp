#include "base/child.h"

#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace tolvane {

struct child {
    pid_t pid = -1;
};

namespace {

// The environment with TOLVANE_DEVICE, and nothing else changed: the
// program gets no descriptor of ours (all are close-on-exec).
child* spawn(const std::vector<std::string>& argv, const std::string& device, std::string* why) {
    std::vector<std::string> env_text;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "TOLVANE_DEVICE=", 15) != 0) env_text.emplace_back(*e);
    env_text.push_back("TOLVANE_DEVICE=" + device);
    std::vector<char*> env, args;
    for (std::string& e : env_text) env.push_back(&e[0]);
    env.push_back(nullptr);
    std::vector<std::string> argv_copy = argv;
    for (std::string& a : argv_copy) args.push_back(&a[0]);
    args.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), env.data());
    if (error != 0) {
        *why = std::strerror(error);
        return nullptr;
    }
    child* c = new child;
    c->pid = pid;
    return c;
}

}  // namespace

child* child_start(const std::vector<std::string>& argv, const std::string& device, std::string* why) {
    if (argv.empty()) {
        *why = "no command";
        return nullptr;
    }
    return spawn(argv, device, why);
}

child* child_start_shell(const std::string& command, const std::string& device, std::string* why) {
    return spawn({"/bin/sh", "-c", command}, device, why);
}

bool child_ended(child* c, int* status) {
    int w = 0;
    const pid_t got = waitpid(c->pid, &w, WNOHANG);
    if (got == 0 || (got < 0 && errno == EINTR)) return false;
    *status = got < 0 ? 255 : WIFEXITED(w) ? WEXITSTATUS(w) : WIFSIGNALED(w) ? 128 + WTERMSIG(w) : 255;
    delete c;
    return true;
}

}  // namespace tolvane
