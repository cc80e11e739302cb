#include <cstdio>
#include <cstring>

#include "fileservice/find.h"
#include "fileservice/reply.h"

namespace tolvane {

namespace {

uint32_t dos_value(int year, int month, int day, int hour, int minute, int second) {
    return uint32_t(year - 1980) << 25 | uint32_t(month) << 21 | uint32_t(day) << 16 |
           uint32_t(hour) << 11 | uint32_t(minute) << 5 | uint32_t(second / 2);
}

}  // namespace

uint32_t dos_datetime(std::time_t t) {
    const uint32_t earliest = dos_value(1980, 1, 1, 0, 0, 0);
    const uint32_t latest = dos_value(2107, 12, 31, 23, 59, 58);
    const std::tm* tm = std::localtime(&t);
    if (tm == nullptr) return earliest;
    const int year = tm->tm_year + 1900;
    if (year < 1980) return earliest;
    if (year > 2107) return latest;
    return dos_value(year, tm->tm_mon + 1, tm->tm_mday, tm->tm_hour, tm->tm_min, tm->tm_sec);
}

void find_record_set_name(find_record* record, const char* name) {
    std::memset(record->name, 0, sizeof record->name);
    std::snprintf(record->name, sizeof record->name, "%-1.13s", name);
}

void find_record_send(line_state& line, const find_record& record) {
    reply_u16(line, record.attributes);
    reply_u16(line, record.time);
    reply_u16(line, record.date);
    reply_u32(line, record.size);
    reply_data(line, reinterpret_cast<const unsigned char*>(record.name), FIND_NAME_SIZE);
}

}  // namespace tolvane
