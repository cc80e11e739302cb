// Names beneath the service root on a POSIX host. Linux resolves them in the
// kernel: openat2 with RESOLVE_IN_ROOT, relative to a descriptor of the root.
// Elsewhere, and where the kernel lacks openat2, the name is walked here one
// component at a time under the same rules, every step with O_NOFOLLOW, so a
// link swapped in meanwhile fails the request instead of leading out.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#if defined(__linux__) && __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#include <sys/syscall.h>
#define TOLVANE_HAVE_OPENAT2 1
#endif

#include "base/console.h"
#include "fileservice/confine-posix.h"
#include "fileservice/confine.h"

#ifndef TOLVANE_CONFINE_WALK_ONLY
#define TOLVANE_CONFINE_WALK_ONLY false
#endif

namespace tolvane {

bool confine_walk_only = TOLVANE_CONFINE_WALK_ONLY;

namespace {

// The root set last; null: none.
std::string root_setting;
const char* service_root = nullptr;

constexpr int SYMLINKS_MAX = 40;  // as the kernel: more is a loop
constexpr int WALK_DEPTH_MAX = 256;
constexpr int KERNEL_TRIES = 32;  // openat2 asks for a retry when a rename races a ".."
constexpr mode_t NEW_FILE_MODE = 0666;
constexpr mode_t NEW_DIRECTORY_MODE = 0777;

// Directories on the way: only looked up in, never read.
#ifdef O_PATH
constexpr int LOOKUP_FLAGS = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int LOOKUP_FLAGS = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

int root_fd = -1;
char root_name[PATH_MAX];     // the service_root root_fd was opened for
bool kernel_resolves = false;  // openat2 works for root_fd

// Keeps errno across the clean-up after a failure.
void close_keeping_errno(int fd) {
    const int error = errno;
    close(fd);
    errno = error;
}

int kernel_open(int root, const char* path, int flags, mode_t mode) {
#ifdef TOLVANE_HAVE_OPENAT2
    open_how how{};
    how.flags = static_cast<uint64_t>(flags);
    how.mode = (flags & O_CREAT) ? mode : 0;  // openat2 refuses a mode without O_CREAT
    how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
    for (int i = 0; i < KERNEL_TRIES; ++i) {
        const long fd = syscall(SYS_openat2, root, path, &how, sizeof how);
        if (fd >= 0 || errno != EAGAIN) return static_cast<int>(fd);
    }
    return -1;
#else
    (void)root, (void)path, (void)flags, (void)mode;
    errno = ENOSYS;
    return -1;
#endif
}

// The descriptor of the service root for this request, opened afresh when
// service_root names another directory than last time; -1 with errno.
int current_root() {
    if (root_fd >= 0 && std::strcmp(root_name, service_root) == 0) return root_fd;
    if (root_fd >= 0) close(root_fd);
    root_fd = -1;
    if (std::strlen(service_root) >= sizeof root_name) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int fd = open(service_root, LOOKUP_FLAGS);
    if (fd < 0) return -1;
    std::snprintf(root_name, sizeof root_name, "%s", service_root);
    root_fd = fd;
    // A kernel without openat2, or a sandbox that refuses it, gets the walk.
    const int probe = kernel_open(fd, ".", LOOKUP_FLAGS, 0);
    kernel_resolves = probe >= 0;
    if (probe >= 0) close(probe);
    return root_fd;
}

bool use_kernel() { return kernel_resolves && !confine_walk_only; }

// --- The walk ---

// A name being resolved: the directories it went through from the root, and
// at the end its final component, not opened yet.
struct walk {
    int dirs[WALK_DEPTH_MAX];  // dirs[0] is the root, which the walk does not own
    int depth;
    char last[NAME_MAX + 1];
};

int walk_dir(const walk& w) { return w.dirs[w.depth - 1]; }

void walk_up_to(walk* w, int depth) {
    while (w->depth > depth) close(w->dirs[--w->depth]);
}

void walk_end(walk* w) {
    const int error = errno;
    walk_up_to(w, 1);
    errno = error;
}

// out = head, then "/" and rest where rest is not empty. A trailing slash
// becomes "/.", so the component before it must be a directory.
bool join_pending(char* out, size_t size, const char* head, const char* rest) {
    const int n = *rest ? std::snprintf(out, size, "%s/%s", head, rest) : std::snprintf(out, size, "%s", head);
    if (n < 0 || static_cast<size_t>(n) >= size - 1) return false;
    if (n > 0 && out[n - 1] == '/') std::strcat(out, ".");
    return true;
}

// Puts a link's target in front of the rest of the name; false with errno.
bool put_link_in_front(char* pending, size_t size, const char* target, const char* rest) {
    char joined[PATH_MAX];
    if (!join_pending(joined, sizeof joined, target, rest)) {
        errno = ENAMETOOLONG;
        return false;
    }
    if (joined[0] == '\0') {
        errno = ENOENT;
        return false;
    }
    std::snprintf(pending, size, "%s", joined);
    return true;
}

// Resolves path beneath the root as RESOLVE_IN_ROOT does, up to its final
// component, which is left in w->last with its directory open. A final
// symbolic link is followed when follow_last is set; a final "." or ".."
// leaves "." there. 0, or -1 with errno and nothing left open.
int walk_to_last(int root, const char* path, bool follow_last, walk* w) {
    w->dirs[0] = root;
    w->depth = 1;
    char pending[PATH_MAX];  // the rest of the name, link targets put in front
    if (!put_link_in_front(pending, sizeof pending, path, "")) return -1;
    int links = 0;
    size_t at = 0;
    for (;;) {
        while (pending[at] == '/') ++at;
        size_t end = at;
        while (pending[end] != '\0' && pending[end] != '/') ++end;
        if (end - at > NAME_MAX) {
            errno = ENAMETOOLONG;
            walk_end(w);
            return -1;
        }
        char name[NAME_MAX + 1];
        std::memcpy(name, pending + at, end - at);
        name[end - at] = '\0';
        at = end;
        while (pending[at] == '/') ++at;
        const bool last = pending[at] == '\0';

        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
            if (name[1] == '.' && w->depth > 1) walk_up_to(w, w->depth - 1);  // never above the root
            if (last) {
                std::strcpy(w->last, ".");
                return 0;
            }
            continue;
        }
        if (!last || follow_last) {
            char target[PATH_MAX];
            const ssize_t n = readlinkat(walk_dir(*w), name, target, sizeof target - 1);
            if (n >= 0) {
                target[n] = '\0';
                if (++links > SYMLINKS_MAX) errno = ELOOP;
                if (links > SYMLINKS_MAX || !put_link_in_front(pending, sizeof pending, target, pending + at)) {
                    walk_end(w);
                    return -1;
                }
                at = 0;
                if (pending[0] == '/') walk_up_to(w, 1);  // an absolute link starts at the root
                continue;
            }
            // EINVAL: no link. A final name that is not there yet may be created.
            if (errno != EINVAL && !(last && errno == ENOENT)) {
                walk_end(w);
                return -1;
            }
        }
        if (last) {
            std::strcpy(w->last, name);
            return 0;
        }
        const int fd = w->depth < WALK_DEPTH_MAX ? openat(walk_dir(*w), name, LOOKUP_FLAGS | O_NOFOLLOW) : -1;
        if (fd < 0) {
            if (w->depth == WALK_DEPTH_MAX) errno = ENAMETOOLONG;
            walk_end(w);
            return -1;
        }
        w->dirs[w->depth++] = fd;
    }
}

int walk_open(int root, const char* path, int flags, mode_t mode) {
    // O_CREAT with O_EXCL never follows a final link, in the kernel either.
    const bool follow = !(flags & O_NOFOLLOW) && !((flags & O_CREAT) && (flags & O_EXCL));
    walk w;
    if (walk_to_last(root, path, follow, &w) != 0) return -1;
    const int fd = openat(walk_dir(w), w.last, flags | O_NOFOLLOW, mode);
    walk_end(&w);
    return fd;
}

// --- Both ways ---

// open(path, flags, mode) beneath the root; -1 with errno.
int open_beneath(const char* path, int flags, mode_t mode = 0) {
    const int root = current_root();
    if (root < 0) return -1;
    return use_kernel() ? kernel_open(root, path, flags, mode) : walk_open(root, path, flags, mode);
}

int stat_beneath(const char* path, struct stat* st) {
    const int root = current_root();
    if (root < 0) return -1;
    if (use_kernel()) {
        const int fd = kernel_open(root, path, LOOKUP_FLAGS & ~O_DIRECTORY, 0);
        if (fd < 0) return -1;
        const int result = fstat(fd, st);
        close_keeping_errno(fd);
        return result;
    }
    walk w;
    if (walk_to_last(root, path, true, &w) != 0) return -1;
    const int result = fstatat(walk_dir(w), w.last, st, AT_SYMLINK_NOFOLLOW);
    walk_end(&w);
    return result;
}

// The open flags of a mode, as the C library's fopen has them.
int open_flags(const open_mode& mode) {
    int flags = mode.reads && mode.writes ? O_RDWR : mode.writes ? O_WRONLY : O_RDONLY;
    if (mode.truncates) flags |= O_CREAT | O_TRUNC;
    if (mode.appends) flags |= O_CREAT | O_APPEND;
    if (mode.exclusive) flags |= O_EXCL;
    return flags;
}

const char* fdopen_mode(const open_mode& mode) {
    const bool both = mode.reads && mode.writes;
    if (mode.appends) return both ? "a+" : "a";
    if (mode.truncates) return both ? "w+" : "w";
    return both ? "r+" : "r";
}

// A name's directory and final component, for remove and rename: they act
// on the final component itself, a link included. Trailing slashes go, and
// ask for a directory.
struct split_name {
    char dir[PATH_MAX];  // "." for a bare name; "/x" lives in "/"
    char last[NAME_MAX + 1];
    bool directory_only;
};

// false with errno for a name whose final component is ".", ".." or
// nothing: that would be the root, or a directory on the way.
bool split(const char* name, split_name* s) {
    size_t length = std::strlen(name);
    s->directory_only = false;
    while (length > 0 && name[length - 1] == '/') {
        --length;
        s->directory_only = true;
    }
    size_t start = length;
    while (start > 0 && name[start - 1] != '/') --start;
    const size_t last_length = length - start;
    if (last_length == 0 || (name[start] == '.' && (last_length == 1 || (last_length == 2 && name[start + 1] == '.')))) {
        errno = name[0] == '\0' ? ENOENT : last_length == 0 ? EBUSY : EINVAL;
        return false;
    }
    if (start >= sizeof s->dir || last_length > NAME_MAX) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(s->last, name + start, last_length);
    s->last[last_length] = '\0';
    if (start == 0) {
        std::strcpy(s->dir, ".");
    } else {
        std::memcpy(s->dir, name, start);
        s->dir[start] = '\0';
    }
    return true;
}

// The directory a split name lives in, opened beneath the root; -1 with
// errno, also where a trailing slash asked for a directory and it is none.
int open_parent(const split_name& s) {
    const int dir = open_beneath(s.dir, LOOKUP_FLAGS);
    if (dir < 0 || !s.directory_only) return dir;
    struct stat st;
    const int got = fstatat(dir, s.last, &st, AT_SYMLINK_NOFOLLOW);
    if (got == 0 && S_ISDIR(st.st_mode)) return dir;
    if (got == 0) errno = ENOTDIR;
    close_keeping_errno(dir);
    return -1;
}

}  // namespace

bool confine_open_root(const char* root) {
    root_setting = root ? root : "";
    service_root = root ? root_setting.c_str() : nullptr;
    if (service_root == nullptr || current_root() >= 0) return true;
    console_error("open: %s: %s\n", service_root, std::strerror(errno));
    return false;
}

FILE* confine_fopen(const char* name, const char*, const open_mode& mode) {
    if (!mode.valid) {
        errno = EINVAL;
        return nullptr;
    }
    // Never blocking: a FIFO without a writer, a device, must not stop the
    // host; files and directories get their usual blocking descriptor back.
    const int flags = open_flags(mode) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const int fd = service_root ? open_beneath(name, flags, NEW_FILE_MODE) : open(name, flags, NEW_FILE_MODE);
    if (fd < 0) return nullptr;
    struct stat st;
    if (fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* stream = fdopen(fd, fdopen_mode(mode));
    if (stream == nullptr) close_keeping_errno(fd);
    return stream;
}

int confine_remove(const char* name) {
    if (service_root == nullptr) return std::remove(name);
    split_name s;
    if (!split(name, &s)) return -1;
    const int dir = open_parent(s);
    if (dir < 0) return -1;
    // As remove(3): a file, else an empty directory.
    int result = unlinkat(dir, s.last, 0);
    if (result != 0 && (errno == EISDIR || errno == EPERM)) {
        const int error = errno;
        result = unlinkat(dir, s.last, AT_REMOVEDIR);
        if (result != 0 && errno == ENOTDIR) errno = error;
    }
    close_keeping_errno(dir);
    return result;
}

int confine_rename(const char* old_name, const char* new_name) {
    if (service_root == nullptr) return std::rename(old_name, new_name);
    split_name from, to;
    if (!split(old_name, &from) || !split(new_name, &to)) return -1;
    from.directory_only = from.directory_only || to.directory_only;
    to.directory_only = false;
    const int from_dir = open_parent(from);
    if (from_dir < 0) return -1;
    const int to_dir = open_parent(to);
    int result = -1;
    if (to_dir >= 0) {
        result = renameat(from_dir, from.last, to_dir, to.last);
        close_keeping_errno(to_dir);
    }
    close_keeping_errno(from_dir);
    return result;
}

// The final component in its directory, opened beneath the root: a link
// there is made or removed itself, never followed.
int confine_mkdir(const char* name) {
    if (service_root == nullptr) return mkdir(name, NEW_DIRECTORY_MODE);
    split_name s;
    if (!split(name, &s)) {
        if (errno == EBUSY || errno == EINVAL) errno = EEXIST;  // the root, ".", "..": all there
        return -1;
    }
    const int dir = open_beneath(s.dir, LOOKUP_FLAGS);
    if (dir < 0) return -1;
    const int result = mkdirat(dir, s.last, NEW_DIRECTORY_MODE);
    close_keeping_errno(dir);
    return result;
}

int confine_rmdir(const char* name) {
    if (service_root == nullptr) return rmdir(name);
    split_name s;
    if (!split(name, &s)) return -1;
    const int dir = open_beneath(s.dir, LOOKUP_FLAGS);
    if (dir < 0) return -1;
    const int result = unlinkat(dir, s.last, AT_REMOVEDIR);
    close_keeping_errno(dir);
    return result;
}

DIR* confine_opendir(const char* path) {
    if (service_root == nullptr) return opendir(path);
    const int fd = open_beneath(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) close_keeping_errno(fd);
    return dir;
}

int confine_stat(const char* path, struct stat* st) {
    if (service_root == nullptr) return stat(path, st);
    return stat_beneath(path, st);
}

}  // namespace tolvane
