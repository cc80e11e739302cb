// What the entry takes from the platform it runs on: each program links
// one of app/platform-posix.cpp and app/platform-win32.cpp.
#pragma once

namespace tolvane {

extern const char platform_default_device[];
extern const char platform_usage_example[];  // printf format taking argv[0]

}  // namespace tolvane
