// stat, fstat and the time on a POSIX host.
#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <cstdio>

#include "fileservice/confine-posix.h"
#include "fileservice/runtime_requests.h"

namespace tolvane {

namespace {

void fill(const struct stat& st, runtime_status* status) {
    status->kind = S_ISREG(st.st_mode) ? KIND_FILE : S_ISDIR(st.st_mode) ? KIND_DIRECTORY : KIND_OTHER;
    status->size = runtime_held(st.st_size);
    status->modified = runtime_held(st.st_mtime);
}

}  // namespace

int runtime_stat(const char* name, runtime_status* status) {
    struct stat st;
    if (confine_stat(name, &st) != 0) return runtime_result_of_errno(errno);
    fill(st, status);
    return RUNTIME_OK;
}

int runtime_fstat(FILE* stream, bool flush, runtime_status* status) {
    if (flush) std::fflush(stream);
    struct stat st;
    if (fstat(fileno(stream), &st) != 0) return runtime_result_of_errno(errno);
    fill(st, status);
    return RUNTIME_OK;
}

void runtime_time(uint32_t* seconds, uint32_t* microseconds) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    *seconds = runtime_held(now.tv_sec);
    *microseconds = static_cast<uint32_t>(now.tv_nsec / 1000);
}

}  // namespace tolvane
