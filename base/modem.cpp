#include "base/modem.h"

#include "base/console.h"

namespace tolvane {

namespace {

bool told_no_modem_lines = false;

line_level level_of(const line_settings& s, modem_line line) { return line == modem_line::dtr ? s.dtr : s.rts; }

}  // namespace

void modem_apply(const line_settings& s, bool with_pulse, modem_set_call set, void* context, modem_wait_call wait) {
    bool missing = false;
    for (modem_line line : {modem_line::dtr, modem_line::rts}) {
        if (level_of(s, line) != line_level::keep && !set(context, line, level_of(s, line) == line_level::on))
            missing = true;
    }
    if (with_pulse && s.pulse_line != modem_line::none) {
        // Every step is tried, so that each request reaches the driver even
        // where an earlier one was refused; only the wait is left out.
        if (set(context, s.pulse_line, true))
            wait(s.pulse_ms);
        else
            missing = true;
        if (!set(context, s.pulse_line, level_of(s, s.pulse_line) == line_level::on)) missing = true;
    }
    if (missing && !told_no_modem_lines) {
        told_no_modem_lines = true;
        console_print("%s: no modem lines\n", s.device.c_str());
    }
}

}  // namespace tolvane
