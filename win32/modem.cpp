#include "win32/modem.h"

#include "base/modem.h"

namespace tolvane {

namespace {

// Wine's ports on a pty, and drivers without the lines, refuse these.
bool set_line(void* handle, modem_line line, bool on) {
    const DWORD function = line == modem_line::dtr ? (on ? SETDTR : CLRDTR) : (on ? SETRTS : CLRRTS);
    return EscapeCommFunction(static_cast<HANDLE>(handle), function) != 0;
}

void sleep_ms(int ms) { Sleep(static_cast<DWORD>(ms)); }

}  // namespace

void modem_dcb_levels(DCB* dcb, const line_settings& s) {
    if (s.dtr != line_level::keep) dcb->fDtrControl = s.dtr == line_level::on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    // With RTS/CTS flow control the driver drives RTS itself.
    if (s.rts != line_level::keep && s.flow != flow_kind::hard)
        dcb->fRtsControl = s.rts == line_level::on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
}

void com_set_modem_lines(HANDLE handle, const line_settings& settings, bool first) {
    modem_apply(settings, first, set_line, handle, sleep_ms);
}

bool com_set_modem_line(HANDLE handle, modem_line line, bool on) { return set_line(handle, line, on); }

}  // namespace tolvane
