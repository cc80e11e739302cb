#include "net/rfc2217_line.h"

#include "base/line.h"

namespace tolvane {

namespace {

bool apply(void*, const line_action& action) {
    using kind = line_action::kind;
    line_settings frame = line_settings_now();
    switch (action.what) {
    case kind::speed: return line_set_speed(action.value);
    case kind::data_bits: frame.data_bits = static_cast<int>(action.value); break;
    case kind::parity: frame.parity = static_cast<parity_kind>(action.value); break;
    case kind::stop_bits: frame.stop_bits = static_cast<int>(action.value); break;
    case kind::flow: frame.flow = static_cast<flow_kind>(action.value); break;
    case kind::dtr: return line_set_modem_line(modem_line::dtr, action.value != 0);
    case kind::rts: return line_set_modem_line(modem_line::rts, action.value != 0);
    case kind::brk: return line_set_break(action.value != 0);
    case kind::purge: return line_purge(action.value & PURGE_INPUT, action.value & PURGE_OUTPUT);
    }
    return line_set_frame(frame);
}

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
