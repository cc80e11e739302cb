// stat, fstat and the time from the Windows calls: attributes, sizes and
// FILETIMEs (100 ns since 1601), turned into kinds and seconds since 1970.
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "fileservice/confine-win32.h"
#include "fileservice/runtime_requests.h"

namespace tolvane {

namespace {

constexpr uint64_t TICKS_PER_SECOND = 10000000;
constexpr uint64_t TICKS_1601_TO_1970 = 116444736000000000;

long long unix_seconds(uint64_t ticks) {
    return (static_cast<long long>(ticks) - static_cast<long long>(TICKS_1601_TO_1970)) /
           static_cast<long long>(TICKS_PER_SECOND);
}

void fill(unsigned long attributes, uint64_t size, uint64_t write_time, runtime_status* status) {
    status->kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? KIND_DIRECTORY
                   : (attributes & FILE_ATTRIBUTE_DEVICE)  ? KIND_OTHER
                                                           : KIND_FILE;
    status->size = runtime_held(static_cast<long long>(size > 0x7FFFFFFFFFFFFFFFull ? 0x7FFFFFFFFFFFFFFFull : size));
    status->modified = runtime_held(unix_seconds(write_time));
}

uint64_t ticks(const FILETIME& t) { return uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime; }

}  // namespace

int runtime_stat(const char* name, runtime_status* status) {
    confine_entry entry;
    if (confine_attributes(name, &entry) != 0) return runtime_result_of_errno(errno);
    fill(entry.attributes, entry.size, entry.write_time, status);
    return RUNTIME_OK;
}

int runtime_fstat(FILE* stream, bool flush, runtime_status* status) {
    if (flush) std::fflush(stream);
    BY_HANDLE_FILE_INFORMATION info;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    if (!GetFileInformationByHandle(handle, &info)) return RUNTIME_EIO;
    fill(info.dwFileAttributes, uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow, ticks(info.ftLastWriteTime),
         status);
    return RUNTIME_OK;
}

void runtime_time(uint32_t* seconds, uint32_t* microseconds) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t since_1970 = ticks(now) - TICKS_1601_TO_1970;
    *seconds = runtime_held(static_cast<long long>(since_1970 / TICKS_PER_SECOND));
    *microseconds = static_cast<uint32_t>(since_1970 % TICKS_PER_SECOND / 10);
}

}  // namespace tolvane
