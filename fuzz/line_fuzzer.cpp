// The host's whole line path: every byte the target sends goes through the
// terminal rules, and each STX is served by the file service, which really
// opens, writes, renames and removes files beneath a scratch root
// (fuzz/scratch.h) made afresh for every input.
//
// An input is one byte of switches, then what the target sends:
//   bit 0: the trace (-r)   bit 1: read-only (-p)
//   bit 2: names resolved by the component walk rather than by openat2
// After its last byte the line gives ETX, so a request cut short ends there.
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/settings.h"
#include "fileservice/confine-posix.h"
#include "fileservice/confine.h"
#include "fileservice/find.h"
#include "fileservice/handles.h"
#include "fileservice/rpc.h"
#include "fuzz/scratch.h"
#include "link/link.h"
#include "terminal/rules.h"

namespace {

// Limits of this harness, not of the program. Positions past POSITION_MAX
// are refused, so a file holds at most that and what one input writes, and
// a read request of two billion bytes ends soon. Only a host that writes
// far more than the target sent can then reach FILE_SIZE_MAX, and libFuzzer
// reports the signal that follows as a crash.
constexpr long POSITION_MAX = 64 * 1024;
constexpr rlim_t FILE_SIZE_MAX = 1024 * 1024;

const uint8_t* line = nullptr;
size_t line_size = 0;
size_t line_next = 0;

std::string root_path;

[[noreturn]] void fault(const char* what) {
    std::fprintf(stderr, "line fuzzer: %s\n", what);
    std::abort();
}

// The number the next descriptor would get: one held open moves it.
int lowest_free_descriptor() {
    const int fd = dup(STDERR_FILENO);
    if (fd >= 0) close(fd);
    return fd;
}

}  // namespace

// The fuzz build links every fseek of the program here (-Wl,--wrap=fseek).
extern "C" int __real_fseek(FILE* stream, long offset, int origin);
extern "C" int __wrap_fseek(FILE* stream, long offset, int origin) {
    const long before = std::ftell(stream);
    const int result = __real_fseek(stream, offset, origin);
    if (result != 0 || std::ftell(stream) <= POSITION_MAX) return result;
    __real_fseek(stream, before < 0 ? 0 : before, SEEK_SET);
    errno = EINVAL;
    return -1;
}

namespace tolvane {

int link_get_raw() { return line_next < line_size ? line[line_next++] : BYTE_ETX; }
void link_put_raw(int) {}

}  // namespace tolvane

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    using namespace tolvane;
    root_path = scratch::open();
    const rlimit size_limit{FILE_SIZE_MAX, FILE_SIZE_MAX};
    if (setrlimit(RLIMIT_FSIZE, &size_limit) != 0) fault("cannot limit the file size");
    service_root = root_path.c_str();
    if (!confine_open_root()) fault("cannot open the scratch root");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tolvane;
    if (size == 0) return 0;
    scratch::reset();
    const int free_descriptor = lowest_free_descriptor();
    rpc_trace = data[0] & 1;
    service_read_only = data[0] & 2;
    confine_walk_only = data[0] & 4;
    std::memset(rpc_text, 0, sizeof rpc_text);  // nothing carried over from the input before
    line = data + 1;
    line_size = size - 1;
    line_next = 0;
    while (line_next < line_size) term_from_line(link_get());

    // What the program would hold until it exits ends with the input here.
    handle_close_all();
    find_end();
    if (lowest_free_descriptor() != free_descriptor) fault("a descriptor outlived its input");
    if (!scratch::outside_untouched()) fault("a file outside the service root changed");
    return 0;
}
