#include <sys/stat.h>

#include <cstdlib>

#include "app/platform.h"

namespace tolvane {

const char platform_default_device[] = "/dev/ttyS0";
const char platform_usage_example[] = "\n\n\texample: %s -c /dev/ttyS1 -b 115200\n";

// As the XDG base directory rules have it: $XDG_CONFIG_HOME, else ~/.config.
std::string platform_config_path() {
    const char* config_home = std::getenv("XDG_CONFIG_HOME");
    if (config_home && config_home[0] == '/') return std::string(config_home) + "/tolvane/config";
    const char* home = std::getenv("HOME");
    if (home && home[0] != '\0') return std::string(home) + "/.config/tolvane/config";
    return "";
}

// A path, or a name that exists here (a tty opened from /dev itself).
bool platform_is_device_name(const std::string& name) {
    struct stat st;
    return name.find('/') != std::string::npos || stat(name.c_str(), &st) == 0;
}

bool platform_names_line(const std::string& word) {
    if (word.rfind("/dev/", 0) == 0 && word.size() > 5) return true;
    struct stat st;
    return stat(word.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

}  // namespace tolvane
