// Profiles: the config file's sections, each key one option table row.
// [default] applies to every run, the section -c names on top of it, and
// the command line over both. The file is looked for where the platform
// keeps such files (app/platform.h) or where --config says.
#pragma once

#include <string>
#include <vector>

#include "app/config_file.h"
#include "app/option_table.h"
#include "base/settings.h"

namespace tolvane {

struct profiles {
    std::string path;  // empty: no file
    std::vector<config_section> sections;
};

// Reads and checks the whole file. A missing file is no error unless it
// was named (--config). False after printing "argv0: FILE:LINE: why".
bool profiles_load(const char* argv0, const std::string& path, bool named, profiles* loaded);

// What a -c name stands for once the file is read.
enum class device_name { device, profile, unknown_profile };
device_name classify_device_name(const std::string& name, const profiles& loaded);

// The section, or null; "default" is never a profile to pick.
const config_section* profile_named(const profiles& loaded, const std::string& name);
const config_section* default_section(const profiles& loaded);

// Applies a section's keys to *s in the file's order; false with "LINE:
// why". *watching: the first key that needs the terminal, if none yet.
bool profile_apply(const config_section& section, settings* s, int* error_line, std::string* why,
                   const char** watching);

// "argv0: no profile NAME in FILE (profiles: a, b)".
void print_unknown_profile(const char* argv0, const std::string& name, const profiles& loaded);
// --list's part: each profile with the device it opens.
void list_profiles(const profiles& loaded, const settings& defaults);

}  // namespace tolvane
