#include "net/rfc2217_line.h"

#include "base/line.h"

namespace tolvane {

namespace {

line_state& line_of(void* context) { return *static_cast<line_state*>(context); }
bool apply(void* line, const line_action& action) { return line_act_now(line_of(line), action); }
const line_settings& settings_now(void* line) { return line_settings_now(line_of(line)); }
modem_state modem_now(void* line) { return line_modem_state(line_of(line)); }

}  // namespace

Rfc2217Port rfc2217_line_port(line_state& line) {
    Rfc2217Port port;
    port.context = &line;
    port.apply = apply;
    port.settings = settings_now;
    port.modem = modem_now;
    return port;
}

}  // namespace tolvane
