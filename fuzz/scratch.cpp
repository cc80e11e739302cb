#include "fuzz/scratch.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace scratch {

namespace {

constexpr char CANARY_TEXT[] = "nothing the file service may touch\n";

std::string base, root;
int root_fd = -1;

// What outside_untouched compares: a change of entries changes a
// directory's modification time, a write the canary's.
struct snapshot {
    struct stat base, outside, canary;
};
snapshot taken;

[[noreturn]] void fail(const char* what, const std::string& path) {
    std::fprintf(stderr, "fuzz scratch: %s: %s: %s\n", what, path.c_str(), std::strerror(errno));
    std::exit(1);
}

bool same(const struct stat& a, const struct stat& b) {
    return a.st_ino == b.st_ino && a.st_size == b.st_size && a.st_nlink == b.st_nlink &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

bool take(snapshot* s) {
    return lstat(base.c_str(), &s->base) == 0 && lstat((base + "/outside").c_str(), &s->outside) == 0 &&
           lstat((base + "/outside/canary").c_str(), &s->canary) == 0;
}

void make_dir(const std::string& path) {
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) fail("mkdir", path);
}

void write_file(int dir, const char* name, const char* text, mode_t mode) {
    const int fd = openat(dir, name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) fail("create", name);
    const size_t size = std::strlen(text);
    if (write(fd, text, size) != static_cast<ssize_t>(size)) fail("write", name);
    close(fd);
}

int remove_below_root(const char* path, const struct stat*, int type, FTW*) {
    if (root == path) return 0;
    const int result = type == FTW_DP ? rmdir(path) : unlink(path);
    if (result != 0) fail("remove", path);
    return 0;
}

int remove_any(const char* path, const struct stat*, int type, FTW*) {
    return type == FTW_DP ? rmdir(path) : unlink(path);
}

// A base of our own making goes when the process ends normally.
void remove_base() { nftw(base.c_str(), remove_any, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT); }

// The base directory, made where it is missing.
std::string make_base() {
    const char* chosen = std::getenv("TOLVANE_FUZZ_DIR");
    if (chosen && *chosen) {
        make_dir(chosen);
        return chosen;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tolvane-fuzz-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) fail("mkdtemp", pattern);
    std::atexit(remove_base);
    return pattern;
}

}  // namespace

std::string open() {
    const std::string made = make_base();
    char resolved[PATH_MAX];
    if (realpath(made.c_str(), resolved) == nullptr) fail("realpath", made);
    base = resolved;
    if (base == "/") {
        errno = EINVAL;
        fail("refusing the whole file system as scratch", base);
    }
    root = base + "/root";
    make_dir(root);
    make_dir(base + "/outside");
    write_file(AT_FDCWD, (base + "/outside/canary").c_str(), CANARY_TEXT, 0644);
    root_fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root_fd < 0) fail("open", root);
    if (!take(&taken)) fail("stat", base);
    std::fprintf(stderr, "fuzz scratch: serving %s\n", root.c_str());
    return root;
}

void reset() {
    if (nftw(root.c_str(), remove_below_root, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT) != 0) fail("empty", root);
    write_file(root_fd, "hello.txt", "hello\nworld\n", 0644);
    write_file(root_fd, "empty", "", 0644);
    write_file(root_fd, "ro.txt", "read only\n", 0444);
    write_file(root_fd, "a-name-longer-than-13.txt", "long\n", 0644);
    if (mkdirat(root_fd, "d", 0755) != 0) fail("mkdir", "d");
    write_file(root_fd, "d/x.c", "int x;\n", 0644);
    write_file(root_fd, "d/.hidden", "", 0644);
    // A FIFO with no other end: no request on it may block.
    if (mkfifoat(root_fd, "fifo", 0644) != 0) fail("mkfifo", "fifo");
    // Links that stay inside, and links that would lead out if ".." or an
    // absolute target were taken from the host's root.
    const char* links[][2] = {
        {"..", "d/up"},         {"../hello.txt", "d/back"},      {"d", "to-d"},
        {"/hello.txt", "abs"},  {"../outside/canary", "escape"}, {"../../../../outside", "deep"},
        {"loop", "loop"},       {"nowhere", "dangling"},         {"fifo", "to-fifo"},
    };
    for (const auto& link : links) {
        if (symlinkat(link[0], root_fd, link[1]) != 0) fail("symlink", link[1]);
    }
}

bool outside_untouched() {
    snapshot now;
    return take(&now) && same(now.base, taken.base) && same(now.outside, taken.outside) &&
           same(now.canary, taken.canary);
}

}  // namespace scratch
