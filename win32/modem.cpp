#include "win32/modem.h"

#include "base/modem.h"
#include "base/settings.h"

namespace tolvane {

namespace {

HANDLE modem_handle = INVALID_HANDLE_VALUE;
bool pulse_given = false;

// Wine's ports on a pty, and drivers without the lines, refuse these.
bool set_line(modem_line line, bool on) {
    const DWORD function = line == modem_line::dtr ? (on ? SETDTR : CLRDTR) : (on ? SETRTS : CLRRTS);
    return EscapeCommFunction(modem_handle, function) != 0;
}

void sleep_ms(int ms) { Sleep(static_cast<DWORD>(ms)); }

}  // namespace

void modem_dcb_levels(DCB* dcb) {
    if (dtr_level != line_level::keep)
        dcb->fDtrControl = dtr_level == line_level::on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    if (rts_level != line_level::keep)
        dcb->fRtsControl = rts_level == line_level::on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
}

void com_set_modem_lines(HANDLE handle, const char* port_name) {
    modem_handle = handle;
    modem_apply(port_name, !pulse_given, set_line, sleep_ms);
    pulse_given = true;
}

}  // namespace tolvane
