#include "base/serial_lines.h"

#include <cctype>

namespace tolvane {

namespace {

const char USB_PREFIX[] = "usb:";
constexpr size_t USB_PREFIX_SIZE = sizeof USB_PREFIX - 1;

bool same_nocase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// "0403:6001": four hex digits, a colon, four hex digits.
bool is_usb_ids(const std::string& text) {
    if (text.size() != 9 || text[4] != ':') return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (i != 4 && !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

}  // namespace

bool is_usb_name(const std::string& device) {
    return device.size() >= USB_PREFIX_SIZE && same_nocase(device.substr(0, USB_PREFIX_SIZE), USB_PREFIX);
}

bool usb_name_matches(const std::string& device, const serial_line& line) {
    if (!is_usb_name(device) || line.usb_ids.empty()) return false;
    const std::string wanted = device.substr(USB_PREFIX_SIZE);
    if (is_usb_ids(wanted)) return same_nocase(wanted, line.usb_ids);
    // Serial numbers are compared as they are: makers mix cases in them.
    return !wanted.empty() && wanted == line.usb_serial;
}

usb_found find_usb_line(const std::string& device, const std::vector<serial_line>& lines, std::string* path) {
    std::vector<const serial_line*> matches;
    for (const serial_line& line : lines)
        if (usb_name_matches(device, line)) matches.push_back(&line);
    path->clear();
    if (matches.size() == 1) {
        *path = matches[0]->path;
        return usb_found::one;
    }
    for (const serial_line* line : matches) *path += (path->empty() ? "" : ", ") + line->name;
    return matches.empty() ? usb_found::none : usb_found::several;
}

bool natural_less(const std::string& a, const std::string& b) {
    const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            // Numbers compare by value: fewer digits (leading zeros aside)
            // is smaller, then digit by digit.
            size_t ei = i, ej = j;
            while (ei < a.size() && digit(a[ei])) ++ei;
            while (ej < b.size() && digit(b[ej])) ++ej;
            size_t si = i, sj = j;
            while (si + 1 < ei && a[si] == '0') ++si;
            while (sj + 1 < ej && b[sj] == '0') ++sj;
            if (ei - si != ej - sj) return ei - si < ej - sj;
            const int order = a.compare(si, ei - si, b, sj, ej - sj);
            if (order != 0) return order < 0;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            ++i;
            ++j;
        }
    }
    if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j;
    return a < b;  // equal by count ("01" and "1"): any fixed order
}

}  // namespace tolvane
