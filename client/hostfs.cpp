#include "client/hostfs.h"

#include <stddef.h>

#include "link/link.h"

// Freestanding: only the compiler's own headers. The builtins below stand
// for memcpy and strlen, so firmware needs no <string.h>.

using namespace tolvane;

namespace {

void drop_byte(int) {}
void (*stray_byte_handler)(int) = drop_byte;

// Set once the line has given -1 ("no host") during the request in
// progress: the request reads nothing more and ends with its failure value.
bool gone = false;

int get() {
    if (gone) return -1;
    const int s = link_get();
    if (s < 0) gone = true;
    return s;
}

// STX, then wait for the host's bare ETX, then the request code. False when
// the line gives -1 first: then nothing more goes out for this request.
bool begin(int code) {
    gone = false;
    link_put(SYM_STX);
    for (int s = get(); s != SYM_ETX; s = get()) {
        if (s < 0) return false;
        stray_byte_handler(s & 0xFF);
    }
    link_put(code);
    return true;
}

bool fits(const char* text) { return __builtin_strlen(text) <= HOST_NAME_MAX_LENGTH; }

// Hosts take string fields of up to 79 bytes; older ones stopped reading
// there and left a 79-byte field's ETX on the line, so parts of 78 suit
// every host.
constexpr size_t TEXT_PART_MAX = 78;

// A big-endian field of n bytes. Bytes cut off by an ETX count as zero.
uint32_t get_number(int n) {
    uint32_t value = 0;
    bool cut = false;
    for (int i = 0; i < n; ++i) {
        int s = cut ? 0 : get();
        if (s == SYM_ETX || s < 0) {
            cut = true;
            s = 0;
        }
        value = value << 8 | static_cast<uint32_t>(s & 0xFF);
    }
    return value;
}

int get_s16() {
    const int value = static_cast<int16_t>(get_number(2));
    return gone ? -1 : value;
}

// Reads a text up to its ETX, keeping at most capacity bytes; -1 when it
// held more (a faulty host): it is read to its end all the same, so the
// line stays in step.
int get_text(char* buffer, int capacity) {
    int count = 0;
    bool too_long = false;
    for (int s = get(); s != SYM_ETX && s >= 0; s = get()) {
        if (count < capacity)
            buffer[count++] = static_cast<char>(s & 0xFF);
        else
            too_long = true;
    }
    return too_long ? -1 : count;
}

uint16_t be16(const unsigned char* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

int get_record(host_find_record* record) {
    const int result = get_s16();
    if (result != 0) return result;
    unsigned char bytes[24];
    for (auto& b : bytes) b = static_cast<unsigned char>(get() & 0xFF);
    if (gone) return -1;
    record->attributes = be16(bytes);
    record->time = be16(bytes + 2);
    record->date = be16(bytes + 4);
    record->size = uint32_t{be16(bytes + 6)} << 16 | be16(bytes + 8);
    __builtin_memcpy(record->name, bytes + 10, sizeof record->name);
    record->name[sizeof record->name - 1] = '\0';
    return 0;
}

// The requests beyond the table: codes 15 (the version) to 21. served
// holds a bit per code, once the host was asked.
enum : int { VERSION = 15, STAT, FSTAT, MKDIR, RMDIR, TIME, EXIT };
bool asked = false;
uint32_t served = 0;

// begin for a request beyond the table, asking the host first what it
// serves: 0, or the failure to return.
int begin_beyond(int code) {
    if (!asked) {
        if (!begin(VERSION)) return HOST_EIO;  // no host: ask again next time
        get_number(2);                         // the version; the bits say it all
        const uint32_t codes = get_number(4);
        served = gone ? 0 : codes;  // silence after the ETX: a host without them
        asked = true;
    }
    if (!(served >> code & 1)) return HOST_ENOSYS;
    return begin(code) ? 0 : HOST_EIO;
}

// A result: 0 or a reason; a positive one from a faulty host is no success.
int get_result() {
    const int result = get_s16();
    return result > 0 ? HOST_EIO : result;
}

int begin_named(int code, const char* name) {
    if (!fits(name)) return HOST_ENAMETOOLONG;
    const int failed = begin_beyond(code);
    if (failed == 0) link_put_text(name);
    return failed;
}

// The result, then the status when it is 0. The status is left as it was
// unless the whole reply came.
int get_status(host_status* status) {
    const int result = get_result();
    if (result != 0) return result;
    const uint32_t kind = get_number(2);
    const uint32_t size = get_number(4);
    const uint32_t modified = get_number(4);
    if (gone) return HOST_EIO;
    status->kind = static_cast<uint16_t>(kind);
    status->size = size;
    status->modified = modified;
    return 0;
}

}  // namespace

void host_set_stray_byte_handler(void (*handler)(int byte)) {
    stray_byte_handler = handler ? handler : drop_byte;
}

host_file host_fopen(const char* name, const char* mode) {
    if (!fits(name) || !fits(mode) || !begin(0)) return 0;
    link_put_text(name);
    link_put_text(mode);
    const host_file file = get_number(4);
    return gone ? 0 : file;
}

long host_fread(void* buffer, long count, host_file file) {
    if (count <= 0 || !begin(1)) return 0;
    link_put_u32(static_cast<uint32_t>(count));
    link_put_u32(file);
    // The host ends a short read with ETX, and sends nothing after a full
    // one; a -1 from the line ends it too.
    return link_get_block(static_cast<int>(count), static_cast<unsigned char*>(buffer));
}

long host_fwrite(const void* data, long count, host_file file) {
    if (!begin(2)) return 0;
    link_put_u32(file);
    link_put_block(static_cast<int>(count), static_cast<const unsigned char*>(data));
    link_put(SYM_ETX);
    return count > 0 ? count : 0;
}

int host_fclose(host_file file) {
    if (!begin(3)) return -1;
    link_put_u32(file);
    return get_s16();
}

int host_fgetc(host_file file) {
    if (!begin(4)) return -1;
    link_put_u32(file);
    return get_s16();
}

int host_fputc(int c, host_file file) {
    if (!begin(5)) return -1;
    link_put_u32(file);
    link_put_u16(static_cast<uint32_t>(c));
    return get_s16();
}

char* host_fgets(char* buffer, int size, host_file file) {
    if (size < 1 || size > HOST_LINE_MAX || !begin(6)) return nullptr;
    link_put_u32(file);
    link_put_u16(static_cast<uint32_t>(size));
    if (get_s16() != 1) return nullptr;
    const int count = get_text(buffer, size - 1);
    if (gone || count < 0) return nullptr;
    buffer[count] = '\0';
    return buffer;
}

int host_fputs(const char* text, host_file file) {
    size_t left = __builtin_strlen(text);
    int result;
    do {  // an empty text still makes one request, as fputs("") is a call
        const size_t n = left < TEXT_PART_MAX ? left : TEXT_PART_MAX;
        if (!begin(7)) return -1;
        link_put_u32(file);
        link_put_block(static_cast<int>(n), reinterpret_cast<const unsigned char*>(text));
        link_put(SYM_ETX);
        result = get_s16();
        text += n;
        left -= n;
    } while (left > 0 && result >= 0);
    return result;
}

int host_findfirst(const char* pattern, int attributes, host_find_record* record) {
    if (!fits(pattern) || !begin(8)) return -1;
    link_put_text(pattern);
    link_put_u16(static_cast<uint32_t>(attributes));
    return get_record(record);
}

int host_findnext(host_find_record* record) {
    if (!begin(9)) return -1;
    return get_record(record);
}

int host_remove(const char* name) {
    if (!fits(name) || !begin(10)) return -1;
    link_put_text(name);
    return get_s16();
}

int host_rename(const char* old_name, const char* new_name) {
    if (!fits(old_name) || !fits(new_name) || !begin(11)) return -1;
    link_put_text(old_name);
    link_put_text(new_name);
    return get_s16();
}

long host_ftell(host_file file) {
    if (!begin(12)) return -1;
    link_put_u32(file);
    const long position = static_cast<int32_t>(get_number(4));
    return gone ? -1 : position;
}

int host_fseek(host_file file, long offset, int origin) {
    if (!begin(13)) return -1;
    link_put_u32(file);
    link_put_u32(static_cast<uint32_t>(offset));
    link_put_u16(static_cast<uint32_t>(origin));
    return get_s16();
}

int host_ungetc(int c, host_file file) {
    if (!begin(14)) return -1;
    link_put_u16(static_cast<uint32_t>(c));
    link_put_u32(file);
    return get_s16();
}

int host_stat(const char* name, host_status* status) {
    const int failed = begin_named(STAT, name);
    return failed ? failed : get_status(status);
}

int host_fstat(host_file file, host_status* status) {
    const int failed = begin_beyond(FSTAT);
    if (failed) return failed;
    link_put_u32(file);
    return get_status(status);
}

int host_mkdir(const char* name) {
    const int failed = begin_named(MKDIR, name);
    return failed ? failed : get_result();
}

int host_rmdir(const char* name) {
    const int failed = begin_named(RMDIR, name);
    return failed ? failed : get_result();
}

int host_time(uint32_t* seconds, uint32_t* microseconds) {
    const int failed = begin_beyond(TIME);
    if (failed) return failed;
    const uint32_t s = get_number(4);
    const uint32_t us = get_number(4);
    if (gone) return HOST_EIO;
    *seconds = s;
    *microseconds = us;
    return 0;
}

int host_exit(long status) {
    const int failed = begin_beyond(EXIT);
    if (failed == 0) link_put_u32(static_cast<uint32_t>(status));
    return failed;
}

void host_forget_host(void) { asked = false; }
