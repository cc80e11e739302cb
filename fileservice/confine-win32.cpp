// Names beneath the service root on Windows. Windows has no open relative to
// a directory that keeps a name inside it, so a name is joined to the root
// here: its drive and leading separators go, "." and ".." are taken
// lexically and never above the root. Links and junctions inside the root
// may still lead out, so each step is checked where the file system says it
// really is: the directory a name is made or removed in before the call, the
// file before and after an open. Between the check and the call a link
// could still be changed; the check after an open undoes an open that went
// out, but what the open did there (w truncates) stays done.
#include <direct.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <cwchar>

#include "base/console.h"
#include "fileservice/confine-win32.h"
#include "fileservice/confine.h"

namespace tolvane {

namespace {

// The root set last; null: none.
std::string root_setting;
const char* service_root = nullptr;

constexpr DWORD PATH_SIZE = 1024;
constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

char root_name[PATH_SIZE];      // the service_root the two below belong to
char root_full[PATH_SIZE];      // its full name without a final separator ("C:" for a drive)
wchar_t root_final[PATH_SIZE];  // where it really is, as GetFinalPathNameByHandle says, the same way
bool root_ready = false;

bool is_separator(char c) { return c == '\\' || c == '/'; }

// A file's name part: after the last separator and a drive.
const char* last_part(const char* name) {
    if (name[0] != '\0' && name[1] == ':') name += 2;
    const char* last = name;
    for (const char* p = name; *p; ++p)
        if (is_separator(*p)) last = p + 1;
    return last;
}

// COM and LPT take a digit 1 to 9, or a superscript 1, 2 or 3 (one byte in
// the ANSI code page, two in UTF-8); returns the bytes it took, 0 if none.
size_t port_digit(const char* p) {
    const auto b = [p](int i) { return static_cast<unsigned char>(p[i]); };
    if (b(0) >= '1' && b(0) <= '9') return 1;
    if (b(0) == 0xB9 || b(0) == 0xB2 || b(0) == 0xB3) return 1;
    if (b(0) == 0xC2 && (b(1) == 0xB9 || b(1) == 0xB2 || b(1) == 0xB3)) return 2;
    return 0;
}

// Where a handle's file really is, links and junctions followed.
bool final_path(HANDLE handle, wchar_t* path) {
    const DWORD n = GetFinalPathNameByHandleW(handle, path, PATH_SIZE, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return n > 0 && n < PATH_SIZE;
}

// The root or within it, letter case aside.
bool final_inside(const wchar_t* path) {
    const size_t root_length = std::wcslen(root_final);
    if (std::wcslen(path) < root_length) return false;
    const int length = static_cast<int>(root_length);
    if (CompareStringOrdinal(path, length, root_final, length, TRUE) != CSTR_EQUAL) return false;
    return path[root_length] == L'\0' || path[root_length] == L'\\';
}

bool full_inside(const char* full) {
    const size_t root_length = std::strlen(root_full);
    if (_strnicmp(full, root_full, root_length) != 0) return false;
    return full[root_length] == '\0' || is_separator(full[root_length]);
}

bool open_root() {
    if (root_ready && std::strcmp(root_name, service_root) == 0) return true;
    root_ready = false;
    const DWORD n = GetFullPathNameA(service_root, PATH_SIZE, root_full, nullptr);
    if (n == 0 || n >= PATH_SIZE) {
        if (n != 0) SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    const HANDLE handle = CreateFileA(root_full, FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool directory =
        GetFileInformationByHandle(handle, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    const bool found = directory && final_path(handle, root_final);
    const DWORD error = directory ? GetLastError() : ERROR_DIRECTORY;
    CloseHandle(handle);
    if (!found) {
        SetLastError(error);
        return false;
    }
    for (size_t k = std::strlen(root_full); k > 0 && is_separator(root_full[k - 1]);) root_full[--k] = '\0';
    for (size_t k = std::wcslen(root_final); k > 0 && root_final[k - 1] == L'\\';) root_final[--k] = L'\0';
    std::snprintf(root_name, sizeof root_name, "%s", service_root);
    root_ready = true;
    return true;
}

// The name part up to its extension (or a colon: "COM1:"), spaces at its
// end dropped, is a device's, as Windows reads it.
bool device_part(const char* part) {
    size_t length = std::strcspn(part, ".:");
    while (length > 0 && part[length - 1] == ' ') --length;
    const std::string base(part, length);
    for (const char* device : {"CON", "CONIN$", "CONOUT$", "PRN", "AUX", "NUL"})
        if (_stricmp(base.c_str(), device) == 0) return true;
    if (length < 4 || (_strnicmp(part, "COM", 3) != 0 && _strnicmp(part, "LPT", 3) != 0)) return false;
    return 3 + port_digit(part + 3) == length;
}

// joined ends in a device's name (its part from name_at): its full name
// only where a regular file by that name is there already, reached through
// \\?\, which Windows takes as it is written.
bool device_named_file(char* joined, size_t name_at, char* full) {
    const char kept = joined[name_at];
    joined[name_at] = '\0';  // the directory, its separator kept ("C:\")
    char directory[PATH_SIZE];
    const DWORD n = GetFullPathNameA(joined, PATH_SIZE, directory, nullptr);
    joined[name_at] = kept;
    errno = EACCES;
    if (n == 0 || n >= PATH_SIZE || !full_inside(directory)) return false;
    const char* prefix = std::strncmp(directory, "\\\\?\\", 4) == 0 ? "" : "\\\\?\\";
    const int written = std::snprintf(full, PATH_SIZE, "%s%s%s", prefix, directory, joined + name_at);
    if (written < 0 || written >= static_cast<int>(PATH_SIZE)) return false;
    const DWORD attributes = GetFileAttributesA(full);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

// The full host name a target's name stands for beneath the root; false
// when it cannot be kept there. *is_root tells a name for the root itself.
bool join_beneath(const char* name, char* full, bool* is_root) {
    if (service_root == nullptr || !open_root()) return false;
    if (name[0] != '\0' && name[1] == ':') name += 2;
    char joined[PATH_SIZE];
    const size_t root_length = std::strlen(root_full);
    std::memcpy(joined, root_full, root_length);
    size_t length = root_length;
    while (*name) {
        while (is_separator(*name)) ++name;
        const char* end = name;
        while (*end && !is_separator(*end)) ++end;
        const size_t part = static_cast<size_t>(end - name);
        const bool dot = part == 1 && name[0] == '.';
        const bool dot_dot = part == 2 && name[0] == '.' && name[1] == '.';
        // Windows drops dots and spaces at the end of a part, and reads some
        // such parts ("...") as "..": only "." and ".." themselves are taken.
        if (part > 0 && !dot && !dot_dot && (end[-1] == '.' || end[-1] == ' ')) {
            errno = ENOENT;
            return false;
        }
        if (dot_dot) {
            // Back over the last part joined here, never into the root's own name.
            while (length > root_length && joined[length - 1] != '\\') --length;
            if (length > root_length) --length;
        } else if (part > 0 && !dot) {
            if (length + 1 + part + 2 > sizeof joined) {
                errno = ENAMETOOLONG;
                return false;
            }
            joined[length++] = '\\';
            std::memcpy(joined + length, name, part);
            length += part;
        }
        name = end;
    }
    *is_root = length == root_length;
    if (*is_root) joined[length++] = '\\';
    joined[length] = '\0';
    const size_t name_at = static_cast<size_t>(last_part(joined) - joined);
    if (!*is_root && device_part(joined + name_at)) return device_named_file(joined, name_at, full);
    // Windows reads a name its own way (devices such as NUL or COM1 in any
    // directory, dots and spaces at the end): its reading must stay inside.
    const DWORD n = GetFullPathNameA(joined, PATH_SIZE, full, nullptr);
    if (n == 0 || n >= PATH_SIZE || !full_inside(full)) {
        errno = EACCES;
        return false;
    }
    return true;
}

enum class place { inside, outside, absent, unknown };

// Where an existing file or directory is, links followed.
place where_is(const char* full) {
    const HANDLE handle =
        CreateFileA(full, FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return place::unknown;
        // Nothing there, unless a link that leads nowhere is.
        return GetFileAttributesA(full) == INVALID_FILE_ATTRIBUTES ? place::absent : place::outside;
    }
    wchar_t path[PATH_SIZE];
    const bool inside = final_path(handle, path) && final_inside(path);
    CloseHandle(handle);
    return inside ? place::inside : place::outside;
}

// The directory a full name is made, removed or renamed in is inside.
bool parent_inside(const char* full) {
    char parent[PATH_SIZE];
    std::snprintf(parent, sizeof parent, "%s", full);
    char* slash = std::strrchr(parent, '\\');
    if (slash == nullptr) return false;
    slash[slash > parent && slash[-1] == ':' ? 1 : 0] = '\0';  // "C:\x" lives in "C:\"
    return where_is(parent) == place::inside;
}

// Windows removes and renames a link itself, but Wine acts on what a Linux
// link leads to: a name that leads out is left alone, whatever it is.
bool stays_inside(const char* full) {
    const place p = where_is(full);
    return p == place::inside || p == place::absent;
}

// The full name for remove and rename: never the root, in a directory inside.
bool entry_beneath(const char* name, char* full) {
    bool is_root = false;
    if (!join_beneath(name, full, &is_root)) return false;
    return !is_root && parent_inside(full);
}

char search_directory[PATH_SIZE];  // of the search in progress, for its entries

// An entry is listed by its name; where it leads out (a link, or the
// directory's ".."), what is there is not told.
void blank_if_outside(_finddata_t* entry) {
    char full[PATH_SIZE];
    const int n = std::snprintf(full, sizeof full, "%s\\%s", search_directory, entry->name);
    if (n >= 0 && n < static_cast<int>(sizeof full) && where_is(full) == place::inside) return;
    entry->attrib = 0;
    entry->time_create = entry->time_access = entry->time_write = 0;
    entry->size = 0;
}

}  // namespace

bool names_dos_device(const char* name) {
    // The device namespace: \\.\COM5, \\?\CON, either slash.
    if (is_separator(name[0]) && is_separator(name[1]) && (name[2] == '.' || name[2] == '?') &&
        (name[3] == '\0' || is_separator(name[3])))
        return true;
    return device_part(last_part(name));
}

bool confine_open_root(const char* root) {
    root_setting = root ? root : "";
    service_root = root ? root_setting.c_str() : nullptr;
    if (service_root == nullptr || open_root()) return true;
    char* text = nullptr;
    const DWORD error = GetLastError();
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
    if (text) {
        // The system's text ends with a line end of its own.
        for (size_t n = std::strlen(text); n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ');)
            text[--n] = '\0';
        console_error("open: %s: %s\n", service_root, text);
        LocalFree(text);
    } else {
        console_error("open: %s: error %lu\n", service_root, static_cast<unsigned long>(error));
    }
    return false;
}

namespace {

// A stream on a file, or null: a device or a pipe that slipped past the
// names (a UNC path to a pipe, say) is closed again, so that no read of the
// target's can wait on it.
FILE* file_only(FILE* stream) {
    if (stream == nullptr) return nullptr;
    if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))) == FILE_TYPE_DISK) return stream;
    std::fclose(stream);
    errno = EACCES;
    return nullptr;
}

}  // namespace

// Without a root the C library opens the name, but never a device's: a
// read of CON or CONIN$ would wait for the console's keys, Ctrl-Q among
// them, and COM or LPT would be taken from whatever uses them.
FILE* confine_fopen(const char* name, const char* c_mode, const open_mode& mode) {
    if (service_root == nullptr) {
        if (!names_dos_device(name)) return file_only(std::fopen(name, c_mode));
        errno = EACCES;
        return nullptr;
    }
    char full[PATH_SIZE];
    bool is_root = false;
    if (!mode.valid || !join_beneath(name, full, &is_root) || is_root || !parent_inside(full)) return nullptr;
    const place before = where_is(full);
    if (before == place::outside) return nullptr;
    FILE* stream = std::fopen(full, c_mode);
    if (stream == nullptr) return nullptr;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    wchar_t where[PATH_SIZE];
    const bool found = final_path(handle, where);
    if (found && final_inside(where)) return file_only(stream);
    // A link changed between the check and the open: undo what it made.
    std::fclose(stream);
    if (found && before == place::absent) DeleteFileW(where);
    errno = EACCES;
    return nullptr;
}

int confine_remove(const char* name) {
    if (service_root == nullptr) return std::remove(name);
    char full[PATH_SIZE];
    return entry_beneath(name, full) && stays_inside(full) ? std::remove(full) : -1;
}

int confine_rename(const char* old_name, const char* new_name) {
    if (service_root == nullptr) return std::rename(old_name, new_name);
    char old_full[PATH_SIZE], new_full[PATH_SIZE];
    if (!entry_beneath(old_name, old_full) || !entry_beneath(new_name, new_full)) return -1;
    if (!stays_inside(old_full) || !stays_inside(new_full)) return -1;
    return std::rename(old_full, new_full);
}

// The C run-time's _mkdir and _rmdir set errno from Windows' reason.
int confine_mkdir(const char* name) {
    if (service_root == nullptr) {
        if (!names_dos_device(name)) return _mkdir(name);
        errno = EACCES;
        return -1;
    }
    char full[PATH_SIZE];
    bool is_root = false;
    errno = EACCES;
    if (!join_beneath(name, full, &is_root)) return -1;
    if (is_root) errno = EEXIST;
    else if (!parent_inside(full)) errno = ENOENT;
    else if (where_is(full) == place::absent) return _mkdir(full);
    else errno = EEXIST;
    return -1;
}

int confine_rmdir(const char* name) {
    if (service_root == nullptr) {
        if (!names_dos_device(name)) return _rmdir(name);
        errno = EACCES;
        return -1;
    }
    char full[PATH_SIZE];
    bool is_root = false;
    errno = EACCES;
    if (!join_beneath(name, full, &is_root)) return -1;
    if (is_root) errno = EBUSY;
    else if (!parent_inside(full)) errno = ENOENT;
    else if (stays_inside(full)) return _rmdir(full);
    return -1;
}

int confine_attributes(const char* name, confine_entry* entry) {
    char full[PATH_SIZE];
    const char* at = name;
    bool is_root = false;
    errno = EACCES;
    if (service_root == nullptr && names_dos_device(name)) return -1;
    if (service_root != nullptr) {
        if (!join_beneath(name, full, &is_root)) return -1;
        const place p = where_is(full);
        if (p != place::inside) {
            errno = p == place::absent ? ENOENT : EACCES;
            return -1;
        }
        at = full;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(at, GetFileExInfoStandard, &data)) {
        const DWORD error = GetLastError();
        errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ? ENOENT
                : error == ERROR_ACCESS_DENIED ? EACCES
                                               : EIO;
        return -1;
    }
    entry->attributes = data.dwFileAttributes;
    entry->size = uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
    entry->write_time = uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 | data.ftLastWriteTime.dwLowDateTime;
    return 0;
}

intptr_t confine_findfirst(const char* pattern, _finddata_t* entry) {
    if (service_root == nullptr) return _findfirst(pattern, entry);
    // The directory part is a name like any other; the last part is matched
    // in it and may end in a dot ("*.") when it has a wildcard.
    const char* last = pattern + (pattern[0] != '\0' && pattern[1] == ':' ? 2 : 0);
    for (const char* p = last; *p; ++p) {
        if (is_separator(*p)) last = p + 1;
    }
    const size_t last_length = std::strlen(last);
    const bool wild = std::strpbrk(last, "*?") != nullptr;
    if (last_length == 0 || std::strcmp(last, ".") == 0 || std::strcmp(last, "..") == 0 ||
        (!wild && (last[last_length - 1] == '.' || last[last_length - 1] == ' '))) {
        return -1;
    }
    char directory[PATH_SIZE];
    std::snprintf(directory, sizeof directory, "%.*s", static_cast<int>(last - pattern), pattern);
    bool is_root = false;
    if (!join_beneath(directory, search_directory, &is_root) || where_is(search_directory) != place::inside) return -1;
    for (size_t k = std::strlen(search_directory); k > 0 && is_separator(search_directory[k - 1]);)
        search_directory[--k] = '\0';
    char full[PATH_SIZE];
    const int n = std::snprintf(full, sizeof full, "%s\\%s", search_directory, last);
    if (n < 0 || n >= static_cast<int>(sizeof full)) return -1;
    const intptr_t handle = _findfirst(full, entry);
    if (handle != -1) blank_if_outside(entry);
    return handle;
}

int confine_findnext(intptr_t handle, _finddata_t* entry) {
    const int result = _findnext(handle, entry);
    if (result == 0 && service_root != nullptr) blank_if_outside(entry);
    return result;
}

}  // namespace tolvane
