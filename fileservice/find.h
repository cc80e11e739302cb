// Directory search, one entry per request, in the manner of MS-DOS
// find-first/find-next, with the MS-DOS form of the entries.
#pragma once

#include <cstdint>
#include <ctime>

namespace tolvane {

struct line_state;

constexpr uint16_t DOS_ATTR_DIRECTORY = 0x10;
constexpr int FIND_NAME_SIZE = 14;  // 13 characters and a NUL

// Sent as 24 data bytes, numbers big-endian.
struct find_record {
    uint16_t attributes;
    uint16_t time;  // hour << 11 | minute << 5 | second / 2
    uint16_t date;  // (year - 1980) << 9 | month << 5 | day
    uint32_t size;
    char name[FIND_NAME_SIZE];
};

// 0 with the record filled, nonzero when there is no (further) entry.
// Every search before was ended by find_first.
int find_first(const char* pattern, find_record* record);
int find_next(find_record* record);
// Ends the search in progress, if any, and lets its directory go; find next
// then answers as before any find first.
void find_end();

// MS-DOS date (upper 16 bits) and time (lower 16 bits) of t in local time,
// held to the range MS-DOS dates can show: 1980-01-01 .. 2107-12-31.
uint32_t dos_datetime(std::time_t t);

// Sets the name field: at most 13 characters, zero bytes after them.
void find_record_set_name(find_record* record, const char* name);

// Queues the record for the line as 24 data bytes.
void find_record_send(line_state& line, const find_record& record);

}  // namespace tolvane
