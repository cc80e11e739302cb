// The target's side of tolvane's file service: host files through the
// serial line, one function per request, shaped like the C calls.
//
// For firmware: no heap, no exceptions, no RTTI. Link it with link/link.cpp
// and supply the two raw operations for your UART:
//     int tolvane::link_get_raw();          // wait for a byte, return 0..255
//     void tolvane::link_put_raw(int byte);  // send one byte
// Calls must not overlap (one request at a time), and nothing else may read
// the line while a call runs.
#pragma once

#include <cstdint>

namespace tolvane {

using host_file = uint32_t;  // a handle from the host; 0 is a failed open

struct host_find_record {
    uint16_t attributes;  // MS-DOS bits; 0x10 is a directory
    uint16_t time;        // hour << 11 | minute << 5 | second / 2
    uint16_t date;        // (year - 1980) << 9 | month << 5 | day
    uint32_t size;
    char name[14];        // at most 13 characters and a NUL
};

// The host keeps 79 bytes of a string field and stops reading there, so a
// 79-byte name would leave its ETX on the line: names and patterns longer
// than 78 bytes are refused here (texts for host_fputs go in parts).
constexpr int HOST_NAME_MAX_LENGTH = 78;
constexpr int HOST_LINE_MAX = 4096;       // largest size for host_fgets

// Bytes that arrive before the host answers a request are the host's
// keyboard, typed while the target was asking. They go here (the default
// drops them). Set it to feed your console input.
void host_set_stray_byte_handler(void (*handler)(int byte));

host_file host_fopen(const char* name, const char* mode);
// Reads up to count bytes; returns how many arrived (fewer at end of file).
long host_fread(void* buffer, long count, host_file file);
// Sends count bytes; the host answers nothing, so errors are not seen.
void host_fwrite(const void* data, long count, host_file file);
int host_fclose(host_file file);
int host_fgetc(host_file file);  // -1 at end of file
int host_fputc(int c, host_file file);
// Like fgets: at most size - 1 bytes and a NUL; null at end of file.
char* host_fgets(char* buffer, int size, host_file file);
// Texts of any length: longer ones go out as several requests.
int host_fputs(const char* text, host_file file);
// 0 with the record filled, nonzero when there is no (further) entry.
int host_findfirst(const char* pattern, int attributes, host_find_record* record);
int host_findnext(host_find_record* record);
int host_remove(const char* name);
int host_rename(const char* old_name, const char* new_name);
long host_ftell(host_file file);
int host_fseek(host_file file, long offset, int origin);
int host_ungetc(int c, host_file file);

}  // namespace tolvane
