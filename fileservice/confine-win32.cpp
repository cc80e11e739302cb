// Names beneath the service root on Windows. Windows has no open relative to
// a directory that keeps a name inside it, so a name is joined to the root
// here: its drive and leading separators go, "." and ".." are taken
// lexically and never above the root. Links and junctions inside the root
// may still lead out, so each step is checked where the file system says it
// really is: the directory a name is made or removed in before the call, the
// file before and after an open. Between the check and the call a link
// could still be changed; the check after an open undoes an open that went
// out, but what the open did there (w truncates) stays done. Names go to
// the wide calls, read as UTF-8 where they are valid UTF-8 (wide_names-win32.h).
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
#include "fileservice/wide_names-win32.h"

namespace tolvane {

namespace {

// The root set last; null: none.
std::string root_setting;
const char* service_root = nullptr;

constexpr DWORD PATH_SIZE = 1024;
constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string root_name;          // the service_root the two below belong to
wchar_t root_full[PATH_SIZE];   // its full name without a final separator ("C:" for a drive)
wchar_t root_final[PATH_SIZE];  // where it really is, as GetFinalPathNameByHandle says, the same way
bool root_ready = false;

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// A file's name part: after the last separator and a drive.
const wchar_t* last_part(const wchar_t* name) {
    if (name[0] != L'\0' && name[1] == L':') name += 2;
    const wchar_t* last = name;
    for (const wchar_t* p = name; *p; ++p)
        if (is_separator(*p)) last = p + 1;
    return last;
}

// COM and LPT take a digit 1 to 9, or a superscript 1, 2 or 3.
bool port_digit(wchar_t c) { return (c >= L'1' && c <= L'9') || c == 0xB9 || c == 0xB2 || c == 0xB3; }

// Where a handle's file really is, links and junctions followed.
bool final_path(HANDLE handle, wchar_t* path) {
    const DWORD n = GetFinalPathNameByHandleW(handle, path, PATH_SIZE, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return n > 0 && n < PATH_SIZE;
}

// The root or within it, letter case aside.
bool within(const wchar_t* path, const wchar_t* root) {
    const size_t root_length = std::wcslen(root);
    if (std::wcslen(path) < root_length) return false;
    const int length = static_cast<int>(root_length);
    if (CompareStringOrdinal(path, length, root, length, TRUE) != CSTR_EQUAL) return false;
    return path[root_length] == L'\0' || is_separator(path[root_length]);
}

bool final_inside(const wchar_t* path) { return within(path, root_final); }
bool full_inside(const wchar_t* full) { return within(full, root_full); }

bool full_path(const wchar_t* name, wchar_t* full) {
    const DWORD n = GetFullPathNameW(name, PATH_SIZE, full, nullptr);
    if (n >= PATH_SIZE) SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return n > 0 && n < PATH_SIZE;
}

bool open_root() {
    if (root_ready && root_name == service_root) return true;
    root_ready = false;
    if (!full_path(wide_name(service_root).c_str(), root_full)) return false;
    const HANDLE handle = CreateFileW(root_full, FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING,
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
    for (size_t k = std::wcslen(root_full); k > 0 && is_separator(root_full[k - 1]);) root_full[--k] = L'\0';
    for (size_t k = std::wcslen(root_final); k > 0 && root_final[k - 1] == L'\\';) root_final[--k] = L'\0';
    root_name = service_root;
    root_ready = true;
    return true;
}

// The name part up to its extension (or a colon: "COM1:"), spaces at its
// end dropped, is a device's, as Windows reads it.
bool device_part(const wchar_t* part) {
    size_t length = std::wcscspn(part, L".:");
    while (length > 0 && part[length - 1] == L' ') --length;
    const std::wstring base(part, length);
    for (const wchar_t* device : {L"CON", L"CONIN$", L"CONOUT$", L"PRN", L"AUX", L"NUL"})
        if (_wcsicmp(base.c_str(), device) == 0) return true;
    if (length != 4 || (_wcsnicmp(part, L"COM", 3) != 0 && _wcsnicmp(part, L"LPT", 3) != 0)) return false;
    return port_digit(part[3]);
}

// joined ends in a device's name (its part from name_at): its full name
// only where a regular file by that name is there already, reached through
// \\?\, which Windows takes as it is written.
bool device_named_file(wchar_t* joined, size_t name_at, wchar_t* full) {
    const wchar_t kept = joined[name_at];
    joined[name_at] = L'\0';  // the directory, its separator kept ("C:\")
    wchar_t directory[PATH_SIZE];
    const bool found = full_path(joined, directory);
    joined[name_at] = kept;
    errno = EACCES;
    if (!found || !full_inside(directory)) return false;
    const wchar_t* prefix = std::wcsncmp(directory, L"\\\\?\\", 4) == 0 ? L"" : L"\\\\?\\";
    const int written = _snwprintf(full, PATH_SIZE, L"%ls%ls%ls", prefix, directory, joined + name_at);
    if (written < 0 || written >= static_cast<int>(PATH_SIZE)) return false;
    const DWORD attributes = GetFileAttributesW(full);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

// The full host name a target's name stands for beneath the root; false
// when it cannot be kept there. *is_root tells a name for the root itself.
bool join_beneath(const wchar_t* name, wchar_t* full, bool* is_root) {
    if (service_root == nullptr || !open_root()) return false;
    if (name[0] != L'\0' && name[1] == L':') name += 2;
    wchar_t joined[PATH_SIZE];
    const size_t root_length = std::wcslen(root_full);
    std::wmemcpy(joined, root_full, root_length);
    size_t length = root_length;
    while (*name) {
        while (is_separator(*name)) ++name;
        const wchar_t* end = name;
        while (*end && !is_separator(*end)) ++end;
        const size_t part = static_cast<size_t>(end - name);
        const bool dot = part == 1 && name[0] == L'.';
        const bool dot_dot = part == 2 && name[0] == L'.' && name[1] == L'.';
        // Windows drops dots and spaces at the end of a part, and reads some
        // such parts ("...") as "..": only "." and ".." themselves are taken.
        if (part > 0 && !dot && !dot_dot && (end[-1] == L'.' || end[-1] == L' ')) {
            errno = ENOENT;
            return false;
        }
        if (dot_dot) {
            // Back over the last part joined here, never into the root's own name.
            while (length > root_length && joined[length - 1] != L'\\') --length;
            if (length > root_length) --length;
        } else if (part > 0 && !dot) {
            if (length + 1 + part + 2 > PATH_SIZE) {
                errno = ENAMETOOLONG;
                return false;
            }
            joined[length++] = L'\\';
            std::wmemcpy(joined + length, name, part);
            length += part;
        }
        name = end;
    }
    *is_root = length == root_length;
    if (*is_root) joined[length++] = L'\\';
    joined[length] = L'\0';
    const size_t name_at = static_cast<size_t>(last_part(joined) - joined);
    if (!*is_root && device_part(joined + name_at)) return device_named_file(joined, name_at, full);
    // Windows reads a name its own way (devices such as NUL or COM1 in any
    // directory, dots and spaces at the end): its reading must stay inside.
    if (!full_path(joined, full) || !full_inside(full)) {
        errno = EACCES;
        return false;
    }
    return true;
}

bool join_beneath(const char* name, wchar_t* full, bool* is_root) {
    return join_beneath(wide_name(name).c_str(), full, is_root);
}

enum class place { inside, outside, absent, unknown };

// Where an existing file or directory is, links followed.
place where_is(const wchar_t* full) {
    const HANDLE handle =
        CreateFileW(full, FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return place::unknown;
        // Nothing there, unless a link that leads nowhere is.
        return GetFileAttributesW(full) == INVALID_FILE_ATTRIBUTES ? place::absent : place::outside;
    }
    wchar_t path[PATH_SIZE];
    const bool inside = final_path(handle, path) && final_inside(path);
    CloseHandle(handle);
    return inside ? place::inside : place::outside;
}

// The directory a full name is made, removed or renamed in is inside.
bool parent_inside(const wchar_t* full) {
    wchar_t parent[PATH_SIZE];
    _snwprintf(parent, PATH_SIZE, L"%ls", full);
    parent[PATH_SIZE - 1] = L'\0';
    wchar_t* slash = std::wcsrchr(parent, L'\\');
    if (slash == nullptr) return false;
    slash[slash > parent && slash[-1] == L':' ? 1 : 0] = L'\0';  // "C:\x" lives in "C:\"
    return where_is(parent) == place::inside;
}

// Windows removes and renames a link itself, but Wine acts on what a Linux
// link leads to: a name that leads out is left alone, whatever it is.
bool stays_inside(const wchar_t* full) {
    const place p = where_is(full);
    return p == place::inside || p == place::absent;
}

// The full name for remove and rename: never the root, in a directory inside.
bool entry_beneath(const char* name, wchar_t* full) {
    bool is_root = false;
    if (!join_beneath(name, full, &is_root)) return false;
    return !is_root && parent_inside(full);
}

wchar_t search_directory[PATH_SIZE];  // of the search in progress, for its entries

// An entry is listed by its name; where it leads out (a link, or the
// directory's ".."), what is there is not told.
void blank_if_outside(_wfinddata_t* entry) {
    wchar_t full[PATH_SIZE];
    const int n = _snwprintf(full, PATH_SIZE, L"%ls\\%ls", search_directory, entry->name);
    if (n >= 0 && n < static_cast<int>(PATH_SIZE) && where_is(full) == place::inside) return;
    entry->attrib = 0;
    entry->time_create = entry->time_access = entry->time_write = 0;
    entry->size = 0;
}

// A mode from the target, which the run-time checks, as the wide call takes it.
std::wstring wide_mode(const char* c_mode) {
    std::wstring mode;
    for (const char* p = c_mode; *p; ++p) mode += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return mode;
}

}  // namespace

bool names_dos_device(const char* name) {
    const std::wstring wide = wide_name(name);
    const wchar_t* w = wide.c_str();
    // The device namespace: \\.\COM5, \\?\CON, either slash.
    if (is_separator(w[0]) && is_separator(w[1]) && (w[2] == L'.' || w[2] == L'?') &&
        (w[3] == L'\0' || is_separator(w[3])))
        return true;
    return device_part(last_part(w));
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
        if (!names_dos_device(name)) return file_only(_wfopen(wide_name(name).c_str(), wide_mode(c_mode).c_str()));
        errno = EACCES;
        return nullptr;
    }
    wchar_t full[PATH_SIZE];
    bool is_root = false;
    if (!mode.valid || !join_beneath(name, full, &is_root) || is_root || !parent_inside(full)) return nullptr;
    const place before = where_is(full);
    if (before == place::outside) return nullptr;
    FILE* stream = _wfopen(full, wide_mode(c_mode).c_str());
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
    if (service_root == nullptr) return _wremove(wide_name(name).c_str());
    wchar_t full[PATH_SIZE];
    return entry_beneath(name, full) && stays_inside(full) ? _wremove(full) : -1;
}

int confine_rename(const char* old_name, const char* new_name) {
    if (service_root == nullptr) return _wrename(wide_name(old_name).c_str(), wide_name(new_name).c_str());
    wchar_t old_full[PATH_SIZE], new_full[PATH_SIZE];
    if (!entry_beneath(old_name, old_full) || !entry_beneath(new_name, new_full)) return -1;
    if (!stays_inside(old_full) || !stays_inside(new_full)) return -1;
    return _wrename(old_full, new_full);
}

// The C run-time's _wmkdir and _wrmdir set errno from Windows' reason.
int confine_mkdir(const char* name) {
    if (service_root == nullptr) {
        if (!names_dos_device(name)) return _wmkdir(wide_name(name).c_str());
        errno = EACCES;
        return -1;
    }
    wchar_t full[PATH_SIZE];
    bool is_root = false;
    errno = EACCES;
    if (!join_beneath(name, full, &is_root)) return -1;
    if (is_root) errno = EEXIST;
    else if (!parent_inside(full)) errno = ENOENT;
    else if (where_is(full) == place::absent) return _wmkdir(full);
    else errno = EEXIST;
    return -1;
}

int confine_rmdir(const char* name) {
    if (service_root == nullptr) {
        if (!names_dos_device(name)) return _wrmdir(wide_name(name).c_str());
        errno = EACCES;
        return -1;
    }
    wchar_t full[PATH_SIZE];
    bool is_root = false;
    errno = EACCES;
    if (!join_beneath(name, full, &is_root)) return -1;
    if (is_root) errno = EBUSY;
    else if (!parent_inside(full)) errno = ENOENT;
    else if (stays_inside(full)) return _wrmdir(full);
    return -1;
}

int confine_attributes(const char* name, confine_entry* entry) {
    std::wstring at = wide_name(name);
    bool is_root = false;
    errno = EACCES;
    if (service_root == nullptr && names_dos_device(name)) return -1;
    if (service_root != nullptr) {
        wchar_t full[PATH_SIZE];
        if (!join_beneath(name, full, &is_root)) return -1;
        const place p = where_is(full);
        if (p != place::inside) {
            errno = p == place::absent ? ENOENT : EACCES;
            return -1;
        }
        at = full;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(at.c_str(), GetFileExInfoStandard, &data)) {
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

intptr_t confine_findfirst(const char* pattern, _wfinddata_t* entry) {
    const std::wstring wide = wide_name(pattern);
    if (service_root == nullptr) return _wfindfirst(wide.c_str(), entry);
    // The directory part is a name like any other; the last part is matched
    // in it and may end in a dot ("*.") when it has a wildcard.
    const wchar_t* start = wide.c_str();
    const wchar_t* last = start + (start[0] != L'\0' && start[1] == L':' ? 2 : 0);
    for (const wchar_t* p = last; *p; ++p) {
        if (is_separator(*p)) last = p + 1;
    }
    const size_t last_length = std::wcslen(last);
    const bool wild = std::wcspbrk(last, L"*?") != nullptr;
    if (last_length == 0 || std::wcscmp(last, L".") == 0 || std::wcscmp(last, L"..") == 0 ||
        (!wild && (last[last_length - 1] == L'.' || last[last_length - 1] == L' '))) {
        return -1;
    }
    const std::wstring directory(start, last);
    bool is_root = false;
    if (!join_beneath(directory.c_str(), search_directory, &is_root) || where_is(search_directory) != place::inside)
        return -1;
    for (size_t k = std::wcslen(search_directory); k > 0 && is_separator(search_directory[k - 1]);)
        search_directory[--k] = L'\0';
    wchar_t full[PATH_SIZE];
    const int n = _snwprintf(full, PATH_SIZE, L"%ls\\%ls", search_directory, last);
    if (n < 0 || n >= static_cast<int>(PATH_SIZE)) return -1;
    const intptr_t handle = _wfindfirst(full, entry);
    if (handle != -1) blank_if_outside(entry);
    return handle;
}

int confine_findnext(intptr_t handle, _wfinddata_t* entry) {
    const int result = _wfindnext(handle, entry);
    if (result == 0 && service_root != nullptr) blank_if_outside(entry);
    return result;
}

}  // namespace tolvane
