// The serial lines of a Windows machine: the COM ports the registry lists
// under HARDWARE\DEVICEMAP\SERIALCOMM, with the friendly name the set-up
// API gives the device behind each, and its USB ids, where it has them.
#include "win32/serial_lines.h"

#include <windows.h>
// windows.h first: these need its types.
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

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

// What the set-up API knows of a port's device.
struct port_device {
    std::string friendly;
    std::string usb_ids;
    std::string usb_serial;
};

std::string instance_id(DEVINST instance) {
    char id[MAX_DEVICE_ID_LEN + 1];
    if (CM_Get_Device_IDA(instance, id, sizeof id, 0) != CR_SUCCESS) return "";
    id[MAX_DEVICE_ID_LEN] = '\0';
    return id;
}

// The ids from the port's own instance id; the serial number, on one
// interface of a composite device (MI_nn), from the device above it.
void read_usb_ids(DEVINST instance, port_device* port) {
    const std::string own = instance_id(instance);
    usb_ids_from_instance_id(own, &port->usb_ids, &port->usb_serial);
    DEVINST parent;
    if (port->usb_serial.empty() && own.find("&MI_") != std::string::npos &&
        CM_Get_Parent(&parent, instance, 0) == CR_SUCCESS) {
        std::string ids;
        usb_ids_from_instance_id(instance_id(parent), &ids, &port->usb_serial);
    }
}

// PortName -> what is known of every port device present.
std::map<std::string, port_device> port_devices() {
    std::map<std::string, port_device> names;
    HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return names;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        const std::string port = string_value(key, "PortName");
        RegCloseKey(key);
        if (port.empty()) continue;
        char friendly[256];
        DWORD type = 0;
        if (SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_FRIENDLYNAME, &type,
                                              reinterpret_cast<BYTE*>(friendly), sizeof friendly - 1, nullptr)) {
            friendly[sizeof friendly - 1] = '\0';
            names[port].friendly = friendly;
        }
        read_usb_ids(device.DevInst, &names[port]);
    }
    SetupDiDestroyDeviceInfoList(set);
    return names;
}

// "VID_0403" -> "0403"; "" where the id has no such part.
std::string id_part(const std::string& id, const char* key) {
    const size_t at = id.find(key);
    if (at == std::string::npos || at + std::strlen(key) + 4 > id.size()) return "";
    std::string part = id.substr(at + std::strlen(key), 4);
    for (char& c : part) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return part;
}

void add_part(std::string& about, const std::string& part) {
    if (part.empty()) return;
    if (!about.empty()) about += ", ";
    about += part;
}

}  // namespace

void usb_ids_from_instance_id(const std::string& id, std::string* ids, std::string* serial) {
    ids->clear();
    serial->clear();
    const std::string vendor = id_part(id, "VID_");
    const std::string product = id_part(id, "PID_");
    if (vendor.empty() || product.empty()) return;
    *ids = vendor + ":" + product;
    const size_t first = id.find('\\');
    const size_t second = first == std::string::npos ? first : id.find('\\', first + 1);
    if (id.compare(0, 4, "USB\\") == 0 && second != std::string::npos) {
        // USB\VID_x&PID_y\SERIAL; an id Windows made up holds '&'.
        const std::string last = id.substr(second + 1);
        if (last.find('&') == std::string::npos) *serial = last;
    } else if (id.compare(0, 8, "FTDIBUS\\") == 0) {
        // FTDIBUS\VID_x+PID_y+SERIALA\0000: the serial and the port's letter.
        const size_t plus = id.rfind('+', second);
        if (plus != std::string::npos && second != std::string::npos && second > plus + 2)
            *serial = id.substr(plus + 1, second - plus - 2);
    }
}

std::vector<serial_line> find_serial_lines() {
    std::vector<std::string> ports = registry_ports();
    std::sort(ports.begin(), ports.end(), natural_less);
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    const std::map<std::string, port_device> devices = port_devices();
    std::vector<serial_line> lines;
    for (const std::string& port : ports) {
        serial_line line{port, "", port, "", ""};
        const auto found = devices.find(port);
        if (found != devices.end()) {
            line.about = found->second.friendly;
            line.usb_ids = found->second.usb_ids;
            line.usb_serial = found->second.usb_serial;
            if (!line.usb_ids.empty()) add_part(line.about, "USB " + line.usb_ids);
            if (!line.usb_serial.empty()) add_part(line.about, "serial " + line.usb_serial);
        }
        lines.push_back(line);
    }
    return lines;
}

}  // namespace tolvane
