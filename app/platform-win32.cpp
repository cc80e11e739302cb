#include <cctype>
#include <cstdlib>

#include "app/platform.h"
#include "win32/com_line.h"

namespace tolvane {

const char platform_default_device[] = "COM1";
const char platform_usage_example[] = "\n\n\texample: %s -c com1 -b 115200\n";

std::string platform_config_path() {
    const char* app_data = std::getenv("APPDATA");
    if (app_data == nullptr || app_data[0] == '\0') return "";
    return std::string(app_data) + "\\tolvane\\config";
}

// COM3, com3, COM3: or 3, as -c takes a port; or a path, which the line
// then refuses by name unless it is a port's.
bool platform_is_device_name(const std::string& name) {
    return name.find_first_of("\\/") != std::string::npos || com_port_number(name.c_str()) >= 0;
}

// COM3 or \\.\COM3: the names of a port, as the system names them.
bool platform_names_line(const std::string& word) {
    std::string name = word.rfind("\\\\.\\", 0) == 0 ? word.substr(4) : word;
    return name.size() > 3 && platform_is_device_name(name) && std::isdigit(static_cast<unsigned char>(name.back())) &&
           !std::isdigit(static_cast<unsigned char>(name[0]));
}

}  // namespace tolvane
