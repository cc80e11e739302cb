#include "client/hostfs.h"

#include <cstring>

#include "link/link.h"

namespace tolvane {

namespace {

void drop_byte(int) {}
void (*stray_byte_handler)(int) = drop_byte;

// STX, then wait for the host's bare ETX, then the request code.
void begin(int code) {
    link_put(SYM_STX);
    for (int s = link_get(); s != SYM_ETX; s = link_get()) stray_byte_handler(s & 0xFF);
    link_put(code);
}

bool fits(const char* text) { return std::strlen(text) <= HOST_NAME_MAX_LENGTH; }

// The host stops reading a string field after 79 bytes, before its ETX, so
// a 79-byte field would leave the ETX on the line; parts of 78 do not.
constexpr std::size_t TEXT_PART_MAX = 78;

int get_s16() { return static_cast<int16_t>(link_get_u16()); }

// Reads a text up to its ETX, keeping at most capacity bytes.
int get_text(char* buffer, int capacity) {
    int count = 0;
    for (int s = link_get(); s != SYM_ETX; s = link_get()) {
        if (count < capacity) buffer[count++] = static_cast<char>(s & 0xFF);
    }
    return count;
}

int get_record(host_find_record* record) {
    const int result = get_s16();
    if (result != 0) return result;
    unsigned char bytes[24] = {};
    for (auto& b : bytes) b = static_cast<unsigned char>(link_get() & 0xFF);
    record->attributes = static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
    record->time = static_cast<uint16_t>(bytes[2] << 8 | bytes[3]);
    record->date = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
    record->size = uint32_t{bytes[6]} << 24 | uint32_t{bytes[7]} << 16 | uint32_t{bytes[8]} << 8 | bytes[9];
    std::memcpy(record->name, bytes + 10, sizeof record->name);
    record->name[sizeof record->name - 1] = '\0';
    return 0;
}

}  // namespace

void host_set_stray_byte_handler(void (*handler)(int byte)) {
    stray_byte_handler = handler ? handler : drop_byte;
}

host_file host_fopen(const char* name, const char* mode) {
    if (!fits(name) || !fits(mode)) return 0;
    begin(0);
    link_put_text(name);
    link_put_text(mode);
    return link_get_u32();
}

long host_fread(void* buffer, long count, host_file file) {
    if (count <= 0) return 0;
    begin(1);
    link_put_u32(static_cast<uint32_t>(count));
    link_put_u32(file);
    // The host ends a short read with ETX, and sends nothing after a full one.
    return link_get_block(static_cast<int>(count), static_cast<unsigned char*>(buffer));
}

void host_fwrite(const void* data, long count, host_file file) {
    begin(2);
    link_put_u32(file);
    link_put_block(static_cast<int>(count), static_cast<const unsigned char*>(data));
    link_put(SYM_ETX);
}

int host_fclose(host_file file) {
    begin(3);
    link_put_u32(file);
    return get_s16();
}

int host_fgetc(host_file file) {
    begin(4);
    link_put_u32(file);
    return get_s16();
}

int host_fputc(int c, host_file file) {
    begin(5);
    link_put_u32(file);
    link_put_u16(static_cast<uint32_t>(c));
    return get_s16();
}

char* host_fgets(char* buffer, int size, host_file file) {
    if (size < 1 || size > HOST_LINE_MAX) return nullptr;
    begin(6);
    link_put_u32(file);
    link_put_u16(static_cast<uint32_t>(size));
    if (get_s16() != 1) return nullptr;
    buffer[get_text(buffer, size - 1)] = '\0';
    return buffer;
}

int host_fputs(const char* text, host_file file) {
    std::size_t left = std::strlen(text);
    int result;
    do {  // an empty text still makes one request, as fputs("") is a call
        char part[TEXT_PART_MAX + 1];
        const std::size_t n = left < sizeof part - 1 ? left : sizeof part - 1;
        std::memcpy(part, text, n);
        part[n] = '\0';
        begin(7);
        link_put_u32(file);
        link_put_text(part);
        result = get_s16();
        text += n;
        left -= n;
    } while (left > 0 && result >= 0);
    return result;
}

int host_findfirst(const char* pattern, int attributes, host_find_record* record) {
    if (!fits(pattern)) return -1;
    begin(8);
    link_put_text(pattern);
    link_put_u16(static_cast<uint32_t>(attributes));
    return get_record(record);
}

int host_findnext(host_find_record* record) {
    begin(9);
    return get_record(record);
}

int host_remove(const char* name) {
    if (!fits(name)) return -1;
    begin(10);
    link_put_text(name);
    return get_s16();
}

int host_rename(const char* old_name, const char* new_name) {
    if (!fits(old_name) || !fits(new_name)) return -1;
    begin(11);
    link_put_text(old_name);
    link_put_text(new_name);
    return get_s16();
}

long host_ftell(host_file file) {
    begin(12);
    link_put_u32(file);
    return static_cast<int32_t>(link_get_u32());
}

int host_fseek(host_file file, long offset, int origin) {
    begin(13);
    link_put_u32(file);
    link_put_u32(static_cast<uint32_t>(offset));
    link_put_u16(static_cast<uint32_t>(origin));
    return get_s16();
}

int host_ungetc(int c, host_file file) {
    begin(14);
    link_put_u16(static_cast<uint32_t>(c));
    link_put_u32(file);
    return get_s16();
}

}  // namespace tolvane
