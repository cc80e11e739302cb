// The serial lines of a Windows machine: the COM ports the registry lists
// under HARDWARE\DEVICEMAP\SERIALCOMM, with the friendly name the set-up
// API gives the device behind each, where it has one.
#include <windows.h>
// windows.h first: these need its types.
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <map>

#include "app/list.h"

namespace tolvane {

namespace {

// A string value of an open key; "" when it has none.
std::string string_value(HKEY key, const char* name) {
    char text[256];
    DWORD size = sizeof text - 1;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return "";
    text[size < sizeof text ? size : sizeof text - 1] = '\0';
    return text;
}

std::vector<std::string> registry_ports() {
    std::vector<std::string> ports;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD name_size = sizeof name;
        char port[256];
        DWORD port_size = sizeof port - 1;
        DWORD type = 0;
        const LONG r = RegEnumValueA(key, i, name, &name_size, nullptr, &type, reinterpret_cast<BYTE*>(port),
                                     &port_size);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;
        port[port_size < sizeof port ? port_size : sizeof port - 1] = '\0';
        if (port[0] != '\0') ports.push_back(port);
    }
    RegCloseKey(key);
    return ports;
}

// PortName -> friendly name of every port device present.
std::map<std::string, std::string> friendly_names() {
    std::map<std::string, std::string> names;
    HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return names;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        const std::string port = string_value(key, "PortName");
        RegCloseKey(key);
        char friendly[256];
        DWORD type = 0;
        if (!port.empty() && SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_FRIENDLYNAME, &type,
                                                               reinterpret_cast<BYTE*>(friendly), sizeof friendly - 1,
                                                               nullptr)) {
            friendly[sizeof friendly - 1] = '\0';
            names[port] = friendly;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return names;
}

}  // namespace

std::vector<serial_line> find_serial_lines() {
    std::vector<std::string> ports = registry_ports();
    std::sort(ports.begin(), ports.end(), natural_less);
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    const std::map<std::string, std::string> names = friendly_names();
    std::vector<serial_line> lines;
    for (const std::string& port : ports) {
        const auto named = names.find(port);
        lines.push_back({port, named == names.end() ? "" : named->second});
    }
    return lines;
}

}  // namespace tolvane
