#include "net/rfc2217_line.h"

#include "base/line.h"

namespace tolvane {

namespace {

bool apply(void*, const line_action& action) { return line_act_now(action); }
const line_settings& settings_now(void*) { return line_settings_now(); }
modem_state modem_now(void*) { return line_modem_state(); }

}  // namespace

Rfc2217Port rfc2217_line_port() {
    Rfc2217Port port;
    port.apply = apply;
    port.settings = settings_now;
    port.modem = modem_now;
    return port;
}

}  // namespace tolvane
