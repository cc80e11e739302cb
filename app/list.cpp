#include "app/list.h"

#include "base/console.h"
#include "base/serial_lines.h"

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

}  // namespace tolvane
