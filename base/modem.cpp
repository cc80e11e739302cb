#include "base/modem.h"

#include "base/console.h"

namespace tolvane {

namespace {

bool told_no_modem_lines = false;

line_level level_of(modem_line line) { return line == modem_line::dtr ? dtr_level : rts_level; }

}  // namespace

void modem_apply(const char* device, bool with_pulse, modem_set_call set, modem_wait_call wait) {
    bool missing = false;
    for (modem_line line : {modem_line::dtr, modem_line::rts}) {
        if (level_of(line) != line_level::keep && !set(line, level_of(line) == line_level::on)) missing = true;
    }
    if (with_pulse && pulse_line != modem_line::none) {
        // Every step is tried, so that each request reaches the driver even
        // where an earlier one was refused; only the wait is left out.
        if (set(pulse_line, true))
            wait(pulse_ms);
        else
            missing = true;
        if (!set(pulse_line, level_of(pulse_line) == line_level::on)) missing = true;
    }
    if (missing && !told_no_modem_lines) {
        told_no_modem_lines = true;
        console_print("%s: no modem lines\n", device);
    }
}

}  // namespace tolvane
