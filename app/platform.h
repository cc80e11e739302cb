// What the entry takes from the platform it runs on: each program links
// one of app/platform-posix.cpp and app/platform-win32.cpp.
#pragma once

#include <string>

namespace tolvane {

extern const char platform_default_device[];
extern const char platform_usage_example[];  // printf format taking argv[0]

// Where the config file is when --config names none; "" when the
// environment names no place for it.
std::string platform_config_path();

// Whether a -c name that no profile has is a line of this platform rather
// than a profile misspelt.
bool platform_is_device_name(const std::string& name);

// Whether a command word names a serial line, there now or not (a path
// under /dev or a character device; a COM port), so that it was surely
// meant for -c: a board unplugged must not make it a word typed.
bool platform_names_line(const std::string& word);

}  // namespace tolvane
