// The serial lines of a Linux machine: the names udev keeps in
// /dev/serial/by-id, and every tty that has a driver behind it in sysfs.
// TOLVANE_TEST_ROOT, when set, is put before /dev and /sys: the tests give
// a made-up tree there.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>

#include "base/serial_lines.h"

namespace tolvane {

namespace {

const char* const BY_ID = "/dev/serial/by-id";

std::string test_root() {
    const char* root = std::getenv("TOLVANE_TEST_ROOT");
    return root ? root : "";
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string link_target(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

std::string real_path(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return "";
    std::string result(real);
    std::free(real);
    return result;
}

// The first line of a sysfs attribute, "" where there is none.
std::string attribute(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    return line;
}

std::string base_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string parent(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

// A link's target as the path it names, worked out from the link's
// directory without following anything ("../../ttyUSB0" seen from
// /dev/serial/by-id is /dev/ttyUSB0).
std::string resolve(const std::string& dir, const std::string& target) {
    std::vector<std::string> parts;
    const std::string whole = target[0] == '/' ? target : dir + "/" + target;
    for (size_t at = 0; at <= whole.size();) {
        size_t end = whole.find('/', at);
        if (end == std::string::npos) end = whole.size();
        const std::string part = whole.substr(at, end - at);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    std::string path;
    for (const std::string& part : parts) path += "/" + part;
    return path.empty() ? "/" : path;
}

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return names;
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end(), natural_less);
    return names;
}

void add_part(std::string& about, const std::string& part) {
    if (part.empty()) return;
    if (!about.empty()) about += ", ";
    about += part;
}

// The driver and, on USB, the device's ids and strings: from the tty's
// device up its tree. The first driver that is not the serial core's own
// counts (newer kernels put a port device of theirs in between).
void describe(const std::string& device, const std::string& sys, serial_line* line) {
    std::string driver;
    std::string usb;
    for (std::string dir = real_path(device); dir.size() > sys.size() && dir.compare(0, sys.size(), sys) == 0;
         dir = parent(dir)) {
        const std::string bound = link_target(dir + "/driver");
        if (driver.empty() && !bound.empty() && bound.find("/serial-base/") == std::string::npos)
            driver = base_name(bound);
        if (exists(dir + "/idVendor")) {
            line->usb_ids = attribute(dir + "/idVendor") + ":" + attribute(dir + "/idProduct");
            line->usb_serial = attribute(dir + "/serial");
            add_part(usb, "USB " + line->usb_ids);
            add_part(usb, attribute(dir + "/manufacturer"));
            add_part(usb, attribute(dir + "/product"));
            if (!line->usb_serial.empty()) add_part(usb, "serial " + line->usb_serial);
            break;
        }
    }
    line->about = driver;
    add_part(line->about, usb);
}

}  // namespace

std::vector<serial_line> find_serial_lines() {
    const std::string root = test_root();
    std::vector<serial_line> lines;
    for (const std::string& name : entries(root + BY_ID)) {
        const std::string target = link_target(root + BY_ID + "/" + name);
        const std::string link = std::string(BY_ID) + "/" + name;
        if (!target.empty()) lines.push_back({link, "-> " + resolve(BY_ID, target), root + link, "", ""});
    }
    const std::string sys = real_path(root + "/sys");
    const std::string ttys = root + "/sys/class/tty";
    for (const std::string& name : entries(ttys)) {
        const std::string dir = ttys + "/" + name;
        if (!exists(dir + "/device") || !exists(root + "/dev/" + name)) continue;
        // A UART the kernel looked for and did not find (most ttyS on a PC).
        if (attribute(dir + "/type") == "0") continue;
        serial_line line{"/dev/" + name, "", root + "/dev/" + name, "", ""};
        describe(dir + "/device", sys + "/", &line);
        lines.push_back(line);
    }
    return lines;
}

}  // namespace tolvane
