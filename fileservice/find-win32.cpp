// Directory search with the C run-time's own wildcard search, beneath the
// service root when there is one; the names found go out in UTF-8.
#include <io.h>

#include <cstdint>

#include "fileservice/confine-win32.h"
#include "fileservice/find.h"
#include "fileservice/wide_names-win32.h"

namespace tolvane {

namespace {

constexpr intptr_t NO_SEARCH = -1;

intptr_t search_handle = NO_SEARCH;
_wfinddata_t search_entry;

void fill_record(find_record* record) {
    *record = find_record{};
    record->attributes = static_cast<uint16_t>(search_entry.attrib & 0xFFFF);
    const uint32_t when = dos_datetime(search_entry.time_write);
    record->time = static_cast<uint16_t>(when & 0xFFFF);
    record->date = static_cast<uint16_t>(when >> 16);
    record->size = static_cast<uint32_t>(search_entry.size);
    find_record_set_name(record, utf8_name(search_entry.name).c_str());  // the name in UTF-8
}

}  // namespace

void find_end() {
    if (search_handle == NO_SEARCH) return;
    _findclose(search_handle);
    search_handle = NO_SEARCH;
}

int find_first(const char* pattern, find_record* record) {
    find_end();
    search_handle = confine_findfirst(pattern, &search_entry);
    if (search_handle == NO_SEARCH) return 1;
    fill_record(record);
    return 0;
}

int find_next(find_record* record) {
    if (search_handle == NO_SEARCH) return -1;
    const int result = confine_findnext(search_handle, &search_entry);
    if (result == -1) {
        find_end();
        return -1;
    }
    fill_record(record);
    return result;
}

}  // namespace tolvane
