// Directory search with opendir/readdir and fnmatch, beneath the service
// root when there is one.
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "fileservice/confine-posix.h"
#include "fileservice/dos_path.h"
#include "fileservice/find.h"

namespace tolvane {

namespace {

constexpr int FIND_PATH_SIZE = 256;

DIR* search_dir = nullptr;
char search_directory[FIND_PATH_SIZE];
char search_pattern[FIND_PATH_SIZE];
// Holds a directory of 255 characters, a slash and an entry name of 255.
char joined_path[2 * FIND_PATH_SIZE + 2];

}  // namespace

void find_end() {
    if (search_dir == nullptr) return;
    closedir(search_dir);
    search_dir = nullptr;
}

int find_first(const char* pattern, find_record* record) {
    find_end();
    std::snprintf(search_directory, sizeof search_directory, "%s", pattern);
    std::snprintf(search_pattern, sizeof search_pattern, "%s", pattern);
    // The separator stays with the directory: "src/*.c" searches "src/".
    *path_name_part(search_directory) = '\0';
    if (search_directory[0] == '\0') std::snprintf(search_directory, sizeof search_directory, ".");
    const char* name_part = path_name_part(search_pattern);
    std::memmove(search_pattern, name_part, std::strlen(name_part) + 1);

    search_dir = confine_opendir(search_directory);
    if (search_dir == nullptr) return -1;
    return find_next(record);
}

int find_next(find_record* record) {
    if (search_dir == nullptr) return -1;
    for (;;) {
        const dirent* entry = readdir(search_dir);
        if (entry == nullptr) return -1;  // the stream stays open until the next find first
        if (fnmatch(search_pattern, entry->d_name, FNM_PATHNAME | FNM_PERIOD) != 0) continue;

        std::memset(record, 0, sizeof *record);
        find_record_set_name(record, entry->d_name);
        std::snprintf(joined_path, sizeof joined_path, "%s/%s", search_directory, entry->d_name);
        // An entry that cannot be stat'ed (a broken link, say) is still
        // listed, with zero attributes, time, date and size.
        struct stat st;
        if (confine_stat(joined_path, &st) == 0) {
            if (S_ISDIR(st.st_mode)) record->attributes = DOS_ATTR_DIRECTORY;
            const uint32_t when = dos_datetime(st.st_mtime);
            record->time = static_cast<uint16_t>(when & 0xFFFF);
            record->date = static_cast<uint16_t>(when >> 16);
            record->size = static_cast<uint32_t>(st.st_size);
        }
        return 0;
    }
}

}  // namespace tolvane
