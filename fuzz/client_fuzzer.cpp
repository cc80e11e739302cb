// The client library against a faulty host: whatever the host answers, the
// device side must not write past a buffer the caller gave it, must end a
// call when the line gives -1 ("no host") without sending more, and must
// hand back what its header promises.
//
// An input is read from both ends: the host's bytes from the front, the
// calls and their arguments from the back. Buffers are allocated at exactly
// the size each call is given, so AddressSanitizer sees one byte too many.
//
// newlib's system calls above the library (client/hostfs_newlib.c) are
// calls too: their descriptors must stay in the table and agree with what
// was opened and closed, their results in range, errno set on -1.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/times.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "client/hostfs.h"
#include "client/hostfs_newlib.h"

namespace {

// 0..14 the library's calls, 15 the stray byte handler, 16..23 newlib's;
// beyond the streams 24..30 the library's (30 forgets the host), 31..33
// newlib's.
constexpr int CALL_KINDS = 34;
constexpr int BEYOND_FIRST = 24;
constexpr int BEYOND_NEWLIB_FIRST = 31;
bool library_call(int kind) { return kind < 16 || (kind >= BEYOND_FIRST && kind < BEYOND_NEWLIB_FIRST); }
constexpr int TEXT_LENGTH_MAX = 100;  // past HOST_NAME_MAX_LENGTH, so refusals are tried
constexpr int PUTS_LENGTH_MAX = 400;  // several parts

const uint8_t* input = nullptr;
size_t front = 0;  // the host's next byte
size_t back = 0;   // one past the next choice, counting down

// The line during one call: how often it gave -1, and whether the library
// sent anything after the first -1.
int ends_seen = 0;
bool sent_after_end = false;

[[noreturn]] void fault(const char* call, const char* what) {
    std::fprintf(stderr, "client fuzzer: %s: %s\n", call, what);
    std::abort();
}

bool choices_left() { return back > front; }
uint8_t choose() { return choices_left() ? input[--back] : 0; }
// Numbers take their bytes high byte first; every choice below is made in
// a statement of its own, so the seeds' order holds with any compiler.
uint16_t choose16() {
    const int high = choose();
    return static_cast<uint16_t>(high << 8 | choose());
}
uint32_t choose32() {
    const uint32_t high = choose16();
    return high << 16 | choose16();
}

// A handle: mostly small numbers, as a host hands them out.
host_file choose_handle() {
    const uint8_t pick = choose();
    return pick == 0xFF ? choose32() : pick;
}

// A NUL-terminated text in a buffer of exactly its size.
std::vector<char> choose_text() {
    const int length = choose() % (TEXT_LENGTH_MAX + 1);
    std::vector<char> text(static_cast<size_t>(length) + 1, '\0');
    for (int i = 0; i < length; ++i) text[static_cast<size_t>(i)] = static_cast<char>(choose() | 1);  // no NUL inside
    return text;
}

// A count or size: -2 .. 252, or either side of HOST_LINE_MAX's edge.
int choose_size() {
    const uint8_t pick = choose();
    if (pick == 0xFF) return HOST_LINE_MAX + (choose() & 1);
    return pick - 2;
}

int stray_bytes = 0;
void count_stray(int byte) {
    if (byte < 0 || byte > 0xFF) fault("stray byte handler", "got no byte");
    ++stray_bytes;
}

void read_call() {
    const int count = choose_size();
    std::vector<unsigned char> buffer(count > 0 ? static_cast<size_t>(count) : 0);
    const long got = host_fread(buffer.data(), count, choose_handle());
    if (got < 0 || got > (count > 0 ? count : 0)) fault("host_fread", "count outside 0..count");
}

void write_call() {
    const int count = choose_size();
    std::vector<unsigned char> data(count > 0 ? static_cast<size_t>(count) : 0);
    for (auto& b : data) b = choose();
    const long sent = host_fwrite(data.data(), count, choose_handle());
    if (sent != 0 && sent != count) fault("host_fwrite", "neither 0 nor count");
}

void gets_call() {
    const int size = choose_size();
    // Outside 1..HOST_LINE_MAX the call must not touch the buffer at all.
    const bool usable = size >= 1 && size <= HOST_LINE_MAX;
    std::vector<char> buffer(usable ? static_cast<size_t>(size) : 1);
    char* line = host_fgets(buffer.data(), size, choose_handle());
    if (line == nullptr) return;
    if (!usable || line != buffer.data()) fault("host_fgets", "answered with another buffer");
    if (std::memchr(line, '\0', buffer.size()) == nullptr) fault("host_fgets", "line without its NUL");
}

void find_call(bool first) {
    // On the heap, so that a record written past its end shows.
    std::vector<host_find_record> record(1);
    int result;
    if (first) {
        const std::vector<char> pattern = choose_text();
        result = host_findfirst(pattern.data(), choose(), record.data());
    } else {
        result = host_findnext(record.data());
    }
    if (result == 0 && std::memchr(record[0].name, '\0', sizeof record[0].name) == nullptr)
        fault("host_findfirst/next", "name without its NUL");
}

// --- newlib's system calls ---

constexpr int NEWLIB_FIRST_FD = 3;
constexpr int NEWLIB_FILES = 8;  // HOSTFS_NEWLIB_FILES
bool fd_open[NEWLIB_FILES];      // as this harness counts them

// -1 .. 11: bad, the console, every entry of the table, beyond it.
int choose_fd() { return static_cast<int>(choose() % (NEWLIB_FILES + 5)) - 1; }
bool is_file(int fd) { return fd >= NEWLIB_FIRST_FD && fd < NEWLIB_FIRST_FD + NEWLIB_FILES; }

// -1 must come with errno set; a descriptor no file holds fails with EBADF.
void check_result(const char* call, long result, int fd) {
    if (result == -1 && errno == 0) fault(call, "-1 without errno");
    if (is_file(fd) && !fd_open[fd - NEWLIB_FIRST_FD] && (result != -1 || errno != EBADF))
        fault(call, "a free descriptor did not fail with EBADF");
}

void newlib_call(int kind) {
    errno = 0;
    switch (kind) {
    case 16: {
        const std::vector<char> name = choose_text();
        const int flags = choose16();  // O_ flags and any other bits
        const int fd = _open(name.data(), flags, 0644);
        check_result("_open", fd, -1);
        if (fd == -1) break;
        if (!is_file(fd) || fd_open[fd - NEWLIB_FIRST_FD]) fault("_open", "a descriptor outside the table or in use");
        fd_open[fd - NEWLIB_FIRST_FD] = true;
        break;
    }
    case 17: {
        const int fd = choose_fd();
        const int result = _close(fd);
        check_result("_close", result, fd);
        if (is_file(fd)) fd_open[fd - NEWLIB_FIRST_FD] = false;
        break;
    }
    case 18: {
        const int fd = choose_fd();
        const int size = choose_size();
        const size_t count = size > 0 ? static_cast<size_t>(size) : 0;
        std::vector<unsigned char> buffer(count);
        // Not stdin: it waits for a key as long as it takes.
        const int got = fd == 0 ? 0 : _read(fd, buffer.data(), count);
        check_result("_read", got, fd);
        if (got < -1 || got > static_cast<int>(count)) fault("_read", "count outside -1..count");
        break;
    }
    case 19: {
        const int fd = choose_fd();
        const int size = choose_size();
        const size_t count = size > 0 ? static_cast<size_t>(size) : 0;
        std::vector<unsigned char> data(count);
        for (auto& b : data) b = choose();
        const int sent = _write(fd, data.data(), count);
        check_result("_write", sent, fd);
        if (sent != -1 && sent != static_cast<int>(count)) fault("_write", "neither -1 nor count");
        break;
    }
    case 20: {
        const int fd = choose_fd();
        const long offset = static_cast<int32_t>(choose32());
        const long position = _lseek(fd, offset, choose() % 4);
        check_result("_lseek", position, fd);
        if (position < -1) fault("_lseek", "a negative position");
        break;
    }
    case 21: {
        const int fd = choose_fd();
        struct stat status;
        check_result("_fstat", _fstat(fd, &status), fd);
        errno = 0;
        const int tty = _isatty(fd);
        if (tty != (fd >= 0 && fd < NEWLIB_FIRST_FD)) fault("_isatty", "not the console's descriptors alone");
        break;
    }
    case 22:
        check_result("_unlink", _unlink(choose_text().data()), -1);
        break;
    default: {
        const std::vector<char> old_name = choose_text(), new_name = choose_text();
        check_result("_rename_r", _rename_r(nullptr, old_name.data(), new_name.data()), -1);
        break;
    }
    }
}

// A result beyond the streams: 0, or a negative reason.
void check_beyond(const char* call, int result) {
    if (result > 0) fault(call, "a positive result");
}

// The calls beyond the streams. A status or time is filled only on 0.
void beyond_call(int kind) {
    host_status status{0xEEEE, 0xEEEEEEEE, 0xEEEEEEEE};
    uint32_t seconds = 0xEEEEEEEE, microseconds = 0xEEEEEEEE;
    int result = 0;
    switch (kind) {
    case 24: result = host_stat(choose_text().data(), &status); break;
    case 25: result = host_fstat(choose_handle(), &status); break;
    case 26: check_beyond("host_mkdir", host_mkdir(choose_text().data())); return;
    case 27: check_beyond("host_rmdir", host_rmdir(choose_text().data())); return;
    case 28:
        result = host_time(&seconds, &microseconds);
        check_beyond("host_time", result);
        if (result != 0 && (seconds != 0xEEEEEEEE || microseconds != 0xEEEEEEEE))
            fault("host_time", "time filled on failure");
        return;
    case 29: check_beyond("host_exit", host_exit(static_cast<int32_t>(choose32()))); return;
    default: host_forget_host(); return;
    }
    check_beyond("host_stat/fstat", result);
    if (result != 0 && (status.kind != 0xEEEE || status.size != 0xEEEEEEEE || status.modified != 0xEEEEEEEE))
        fault("host_stat/fstat", "status filled on failure");
}

void beyond_newlib_call(int kind) {
    errno = 0;
    if (kind == BEYOND_NEWLIB_FIRST) {
        struct stat status;
        check_result("_stat", _stat(choose_text().data(), &status), -1);
    } else if (kind == BEYOND_NEWLIB_FIRST + 1) {
        const std::vector<char> name = choose_text();
        if (choose() & 1)
            check_result("mkdir", hostfs_testmkdir(name.data(), 0755), -1);
        else
            check_result("rmdir", hostfs_testrmdir(name.data()), -1);
    } else if (choose() & 1) {
        timeval now;
        check_result("_gettimeofday", _gettimeofday(&now, nullptr), -1);
    } else {
        tms times;
        check_result("_times", static_cast<long>(_times(&times)), -1);
    }
}

void one_call(int kind) {
    if (kind >= BEYOND_NEWLIB_FIRST) {
        beyond_newlib_call(kind);
        return;
    }
    if (kind >= BEYOND_FIRST) {
        beyond_call(kind);
        return;
    }
    if (kind >= 16) {
        newlib_call(kind);
        return;
    }
    switch (kind) {
    case 0: {
        const std::vector<char> name = choose_text(), mode = choose_text();
        host_fopen(name.data(), mode.data());
        break;
    }
    case 1: read_call(); break;
    case 2: write_call(); break;
    case 3: host_fclose(choose_handle()); break;
    case 4: host_fgetc(choose_handle()); break;
    case 5: {
        const int c = static_cast<int16_t>(choose16());
        host_fputc(c, choose_handle());
        break;
    }
    case 6: gets_call(); break;
    case 7: {
        const size_t length = choose16() % PUTS_LENGTH_MAX;
        std::vector<char> text(length + 1, '\0');
        for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>(choose() | 1);
        host_fputs(text.data(), choose_handle());
        break;
    }
    case 8: find_call(true); break;
    case 9: find_call(false); break;
    case 10: host_remove(choose_text().data()); break;
    case 11: {
        const std::vector<char> old_name = choose_text(), new_name = choose_text();
        host_rename(old_name.data(), new_name.data());
        break;
    }
    case 12: host_ftell(choose_handle()); break;
    case 13: {
        const host_file file = choose_handle();
        const long offset = static_cast<int32_t>(choose32());
        host_fseek(file, offset, static_cast<int16_t>(choose16()));
        break;
    }
    case 14: {
        const int c = static_cast<int16_t>(choose16());
        host_ungetc(c, choose_handle());
        break;
    }
    default: host_set_stray_byte_handler(choose() & 1 ? count_stray : nullptr); break;
    }
}

}  // namespace

extern "C" int link_get_raw(void) {
    if (front < back) return input[front++];
    ++ends_seen;
    return -1;
}

extern "C" void link_put_raw(int) {
    if (ends_seen > 0) sent_after_end = true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Each input starts with newlib's table empty: what the last one left
    // open is closed, with no host to answer.
    front = back = 0;
    for (int i = 0; i < NEWLIB_FILES; ++i) {
        if (fd_open[i]) _close(NEWLIB_FIRST_FD + i);
        fd_open[i] = false;
    }
    input = data;
    front = 0;
    back = size;
    host_set_stray_byte_handler(nullptr);
    while (choices_left()) {
        const int kind = choose() % CALL_KINDS;
        ends_seen = 0;
        sent_after_end = false;
        one_call(kind);
        // -1 ends the call at once: the line is not asked again, and
        // nothing more goes out. newlib's calls make up to two requests
        // (open's second try, lseek's tell), each ended so.
        if (library_call(kind) && ends_seen > 1) fault("a call", "asked the line again after -1");
        if (library_call(kind) && sent_after_end) fault("a call", "sent after the line gave -1");
        if (ends_seen > 2) fault("a newlib call", "asked the line again after -1");
    }
    return 0;
}
