#include "app/profiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/platform.h"
#include "base/console.h"
#include "base/serial_lines.h"
#include "net/url.h"

namespace tolvane {

namespace {

const char DEFAULT_SECTION[] = "default";
// Far more than any list of boards: --config /dev/zero must not fill memory.
constexpr size_t CONFIG_SIZE_MAX = 1 << 20;

// The file's bytes; 0, or the errno that stopped the read (ENOENT: there
// is no such file; EFBIG: it goes on past CONFIG_SIZE_MAX).
int read_file(const std::string& path, std::string* text) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return errno;
    char block[4096];
    size_t n;
    while (text->size() <= CONFIG_SIZE_MAX && (n = std::fread(block, 1, sizeof block, file)) > 0)
        text->append(block, n);
    const int error = std::ferror(file) ? errno : text->size() > CONFIG_SIZE_MAX ? EFBIG : 0;
    std::fclose(file);
    return error;
}

bool is_true(const std::string& value) { return value == "true"; }
bool is_false(const std::string& value) { return value == "false"; }

// One key through its row, as the command line would give the option.
bool apply_entry(const config_entry& entry, settings* s, std::string* why) {
    const option_row* row = option_named(entry.key);
    if (row == nullptr) {
        *why = "no such key: " + entry.key;
        return false;
    }
    if (row->action != option_action::set) {
        *why = entry.key + ": only on the command line";
        return false;
    }
    const char* arg = entry.value.c_str();
    if (row->arg != long_arg::required && is_true(entry.value)) {
        arg = nullptr;
    } else if (row->arg != long_arg::required && is_false(entry.value)) {
        if (row->clear == nullptr) {
            *why = entry.key + ": cannot be false";
            return false;
        }
        row->clear(s);
        return true;
    } else if (row->arg == long_arg::none) {
        *why = entry.key + ": true or false";
        return false;
    } else if (entry.value.empty()) {
        *why = entry.key + ": needs a value";
        return false;
    }
    std::string message;
    if (row->apply(arg, s, &message)) return true;
    *why = entry.key + ": " + message;
    return false;
}

}  // namespace

bool profiles_load(const char* argv0, const std::string& path, bool named, profiles* loaded) {
    loaded->path.clear();
    loaded->sections.clear();
    std::string text, why;
    const int error = read_file(path, &text);
    if (error != 0) {
        if (!named && error == ENOENT) return true;
        console_error("%s: %s: %s\n", argv0, path.c_str(), std::strerror(error));
        return false;
    }
    int line = 0;
    bool fine = config_parse(text, &loaded->sections, &line, &why);
    // Every section is checked, not just the one picked: a mistake shows
    // the day it is made.
    for (size_t i = 0; fine && i < loaded->sections.size(); ++i) {
        settings scratch;
        const char* watching = nullptr;
        fine = profile_apply(loaded->sections[i], &scratch, &line, &why, &watching);
    }
    if (!fine) {
        console_error("%s: %s:%d: %s\n", argv0, path.c_str(), line, why.c_str());
        loaded->sections.clear();
        return false;
    }
    loaded->path = path;
    return true;
}

const config_section* profile_named(const profiles& loaded, const std::string& name) {
    if (name == DEFAULT_SECTION) return nullptr;
    for (const config_section& section : loaded.sections)
        if (section.name == name) return &section;
    return nullptr;
}

const config_section* default_section(const profiles& loaded) {
    for (const config_section& section : loaded.sections)
        if (section.name == DEFAULT_SECTION) return &section;
    return nullptr;
}

device_name classify_device_name(const std::string& name, const profiles& loaded) {
    if (net_url_scheme(name) != net_scheme::none || is_usb_name(name)) return device_name::device;
    if (profile_named(loaded, name)) return device_name::profile;
    if (platform_is_device_name(name)) return device_name::device;
    const bool has_profiles = loaded.sections.size() > (default_section(loaded) ? 1u : 0u);
    return has_profiles ? device_name::unknown_profile : device_name::device;
}

bool profile_apply(const config_section& section, settings* s, int* error_line, std::string* why,
                   const char** watching) {
    for (const config_entry& entry : section.entries) {
        if (!apply_entry(entry, s, why)) {
            *error_line = entry.line;
            return false;
        }
        const option_row* row = option_named(entry.key);
        if (*watching == nullptr && row->needs_terminal && row->needs_terminal(*s)) *watching = row->name;
    }
    return true;
}

void print_unknown_profile(const char* argv0, const std::string& name, const profiles& loaded) {
    std::string names;
    for (const config_section& section : loaded.sections)
        if (section.name != DEFAULT_SECTION) names += (names.empty() ? "" : ", ") + section.name;
    console_error("%s: no profile %s in %s (profiles: %s)\n", argv0, name.c_str(), loaded.path.c_str(),
                  names.c_str());
}

void list_profiles(const profiles& loaded, const settings& defaults) {
    const config_section* all = default_section(loaded);
    const std::vector<serial_line> lines = find_serial_lines();
    bool first = true;
    for (const config_section& section : loaded.sections) {
        if (section.name == DEFAULT_SECTION) continue;
        if (first) console_print("profiles in %s:\n", loaded.path.c_str());
        first = false;
        settings s = defaults;
        int line;
        std::string why;
        const char* watching = nullptr;
        if (all) profile_apply(*all, &s, &line, &why, &watching);
        profile_apply(section, &s, &line, &why, &watching);  // checked when the file was read
        // A board named by its ids: where it is plugged in now.
        std::string plugged;
        for (const serial_line& found : lines)
            if (usb_name_matches(s.line.device, found)) plugged += (plugged.empty() ? " -> " : ", ") + found.name;
        console_print("%s  %s%s\n", section.name.c_str(), s.line.device.c_str(), plugged.c_str());
    }
}

}  // namespace tolvane
