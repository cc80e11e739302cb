#include "app/list.h"

#include <cctype>

#include "base/console.h"

namespace tolvane {

int list_serial_lines() {
    const std::vector<serial_line> lines = find_serial_lines();
    if (lines.empty()) console_print("no serial lines found\n");
    for (const serial_line& line : lines) {
        if (line.about.empty())
            console_print("%s\n", line.name.c_str());
        else
            console_print("%s  %s\n", line.name.c_str(), line.about.c_str());
    }
    return 0;
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
