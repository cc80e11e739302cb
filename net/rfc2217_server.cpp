#include "net/rfc2217_server.h"

namespace tolvane {

namespace {

// NOTIFY-MODEMSTATE's bits: the levels, and below them what changed.
enum : uint8_t { TOLD_CTS = 0x10, TOLD_DSR = 0x20, TOLD_RI = 0x40, TOLD_CD = 0x80 };
enum : uint8_t { DELTA_CTS = 0x01, DELTA_DSR = 0x02, RI_ENDED = 0x04, DELTA_CD = 0x08 };

const line_settings& line_now(const Rfc2217Server& s) { return s.port.settings(s.port.context); }

bool apply(Rfc2217Server& s, line_action::kind what, long value) { return s.port.apply(s.port.context, {what, value}); }

// The answer to a command: its code plus SERVER, the value big-endian in size bytes.
void answer(Rfc2217Server& s, uint8_t command, uint32_t value, size_t size) {
    uint8_t bytes[4];
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * (size - 1 - i)));
    telnet_queue_com_port(s.telnet, rfc2217::SERVER + command, bytes, size);
}

// A frame or speed setting: 0 asks what is in force, a value in range
// changes it; the answer is what is in force after.
void set_line(Rfc2217Server& s, line_action::kind what, long asked, bool in_range, long in_force) {
    if (asked != 0 && in_range && asked != in_force) apply(s, what, asked);
}

uint8_t flow_index(flow_kind flow) { return flow == flow_kind::soft ? 1 : flow == flow_kind::hard ? 2 : 0; }
flow_kind flow_at(uint32_t index) {
    return index == 1 ? flow_kind::soft : index == 2 ? flow_kind::hard : flow_kind::none;
}

uint8_t modem_levels(const modem_state& m) {
    const struct {
        unsigned modem;
        uint8_t told;
    } lines[] = {{MODEM_CTS, TOLD_CTS}, {MODEM_DSR, TOLD_DSR}, {MODEM_RI, TOLD_RI}, {MODEM_CD, TOLD_CD}};
    uint8_t levels = 0;
    for (const auto& l : lines)
        if (m.known & m.on & l.modem) levels |= l.told;
    return levels;
}

// DTR or RTS as the driver has it, else as last asked.
bool modem_line_on(const Rfc2217Server& s, unsigned bit, bool asked) {
    const modem_state m = s.port.modem(s.port.context);
    return (m.known & bit) ? (m.on & bit) != 0 : asked;
}

void tell_modem(Rfc2217Server& s, bool always) {
    const uint8_t levels = modem_levels(s.port.modem(s.port.context));
    const uint8_t changed = levels ^ s.modem_told;
    if (!always && changed == 0) return;
    uint8_t deltas = 0;
    if (changed & TOLD_CTS) deltas |= DELTA_CTS;
    if (changed & TOLD_DSR) deltas |= DELTA_DSR;
    if ((changed & TOLD_RI) && !(levels & TOLD_RI)) deltas |= RI_ENDED;
    if (changed & TOLD_CD) deltas |= DELTA_CD;
    s.modem_told = levels;
    const uint8_t told = static_cast<uint8_t>((levels | deltas) & s.modemstate_mask);
    if (always || told != 0) answer(s, rfc2217::NOTIFY_MODEMSTATE, told, 1);
}

// A client's first COM-PORT-OPTION command shows it speaks RFC 2217: it
// is told the modem lines as they are, before the answer. True then.
bool see_client(Rfc2217Server& s) {
    if (s.spoke) return false;
    s.spoke = true;
    s.modem_told = modem_levels(s.port.modem(s.port.context));
    tell_modem(s, true);
    return true;
}

// SET-CONTROL: the flow control, the break, DTR and RTS, each asked
// after (the code before its settings') or set; the answer is the state
// after.
void set_control(Rfc2217Server& s, uint8_t value) {
    using namespace rfc2217;
    if (value <= CONTROL_HARDWARE) {
        if (value != CONTROL_FLOW_QUERY && flow_at(value - 1u) != line_now(s).flow)
            apply(s, line_action::kind::flow, static_cast<long>(flow_at(value - 1u)));
        answer(s, SET_CONTROL, CONTROL_NO_FLOW + flow_index(line_now(s).flow), 1);
    } else if (value <= CONTROL_BREAK_OFF) {
        // A break is answered as asked: a pty has none, and a client that
        // times one must not fail for it.
        if (value != CONTROL_BREAK_QUERY) {
            s.break_on = value == CONTROL_BREAK_ON;
            apply(s, line_action::kind::brk, s.break_on);
        }
        answer(s, SET_CONTROL, s.break_on ? CONTROL_BREAK_ON : CONTROL_BREAK_OFF, 1);
    } else if (value <= CONTROL_RTS_OFF) {
        const bool dtr = value <= CONTROL_DTR_OFF;
        const uint8_t on_code = dtr ? CONTROL_DTR_ON : CONTROL_RTS_ON;
        bool& asked = dtr ? s.dtr_asked : s.rts_asked;
        const bool query = value == on_code - 1;
        if (!query) {
            asked = value == on_code;
            apply(s, dtr ? line_action::kind::dtr : line_action::kind::rts, asked);
        }
        // Set: answered as asked, as the break is (a pty has no modem lines,
        // Wine's COM port on one refuses them).
        const bool on = query ? modem_line_on(s, dtr ? MODEM_DTR : MODEM_RTS, asked) : asked;
        answer(s, SET_CONTROL, on ? on_code : on_code + 1u, 1);
    } else if (value <= CONTROL_INBOUND_NO_FLOW + 5u) {
        // The line has one flow control both ways; DCD, DTR and DSR flow
        // control (17 to 19) it has not, so they are answered with it.
        const uint8_t index = static_cast<uint8_t>(value - CONTROL_INBOUND_NO_FLOW);
        if (value != CONTROL_INBOUND_QUERY && index < 3 && flow_at(index) != line_now(s).flow)
            apply(s, line_action::kind::flow, static_cast<long>(flow_at(index)));
        answer(s, SET_CONTROL, CONTROL_INBOUND_NO_FLOW + flow_index(line_now(s).flow), 1);
    }
}

uint32_t big_endian(const uint8_t* bytes, size_t count) {
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i) value = value << 8 | bytes[i];
    return value;
}

void serve(void* context, const uint8_t* sb, size_t length) {
    Rfc2217Server& s = *static_cast<Rfc2217Server*>(context);
    const bool told = see_client(s);
    using namespace rfc2217;
    using kind = line_action::kind;
    const uint8_t command = sb[0];
    const uint8_t* value = sb + 1;
    const size_t size = length - 1;
    if (command == SIGNATURE) {
        // An empty one asks for ours; one with text is the client's own.
        if (size == 0)
            telnet_queue_com_port(s.telnet, SERVER + SIGNATURE, reinterpret_cast<const uint8_t*>(SIGNATURE_TEXT),
                                  sizeof SIGNATURE_TEXT - 1);
        return;
    }
    if (command == FLOWCONTROL_SUSPEND || command == FLOWCONTROL_RESUME) {
        s.suspended = command == FLOWCONTROL_SUSPEND;  // not answered
        return;
    }
    if (command == NOTIFY_LINESTATE) {  // a poll: no line errors are kept to tell
        answer(s, command, 0, 1);
        return;
    }
    if (command == NOTIFY_MODEMSTATE) {  // a poll, as pyserial's
        if (!told) tell_modem(s, true);
        return;
    }
    if (size < (command == SET_BAUDRATE ? 4u : 1u)) return;  // a value cut short asks nothing
    const uint32_t v = command == SET_BAUDRATE ? big_endian(value, 4) : value[0];
    switch (command) {
    case SET_BAUDRATE:
        set_line(s, kind::speed, static_cast<long>(v), v <= 0x7FFFFFFF, line_now(s).baud);
        answer(s, command, static_cast<uint32_t>(line_now(s).baud), 4);
        break;
    case SET_DATASIZE:
        set_line(s, kind::data_bits, v, v >= 5 && v <= 8, line_now(s).data_bits);
        answer(s, command, static_cast<uint32_t>(line_now(s).data_bits), 1);
        break;
    case SET_PARITY:
        set_line(s, kind::parity, static_cast<long>(v) - 1, v >= SET_PARITY_NONE && v <= SET_PARITY_NONE + 4,
                 static_cast<long>(line_now(s).parity));
        answer(s, command, SET_PARITY_NONE + static_cast<uint32_t>(line_now(s).parity), 1);
        break;
    case SET_STOPSIZE:
        set_line(s, kind::stop_bits, v, v == STOPSIZE_1 || v == STOPSIZE_2, line_now(s).stop_bits);
        answer(s, command, line_now(s).stop_bits == 2 ? STOPSIZE_2 : STOPSIZE_1, 1);
        break;
    case SET_CONTROL:
        set_control(s, static_cast<uint8_t>(v));
        break;
    case SET_LINESTATE_MASK:
    case SET_MODEMSTATE_MASK:
        (command == SET_LINESTATE_MASK ? s.linestate_mask : s.modemstate_mask) = static_cast<uint8_t>(v);
        answer(s, command, v, 1);
        break;
    case PURGE_DATA: {
        if (v < PURGE_RECEIVED || v > PURGE_BOTH) break;
        // Answered at once: the client waits for it, not for the queue.
        const long what = (v & PURGE_RECEIVED ? long{PURGE_INPUT} : 0) | (v & PURGE_TRANSMIT ? long{PURGE_OUTPUT} : 0);
        apply(s, kind::purge, what);
        answer(s, command, v, 1);
        break;
    }
    }
}

}  // namespace

void rfc2217_serve_start(Rfc2217Server& s, const Rfc2217Port& port) {
    s = Rfc2217Server{};
    s.port = port;
    telnet_start(s.telnet, nullptr, 0);
    s.telnet.serve = serve;
}

size_t rfc2217_serve_decode(Rfc2217Server& s, uint8_t* bytes, size_t count) {
    s.telnet.serve_context = &s;  // the record may have moved since the last call
    return telnet_decode(s.telnet, bytes, count);
}

size_t rfc2217_serve_take(Rfc2217Server& s, uint8_t* dest, size_t room) { return telnet_take(s.telnet, dest, room); }

void rfc2217_serve_modem(Rfc2217Server& s) {
    if (s.spoke) tell_modem(s, false);
}

size_t rfc2217_encode(const uint8_t* in, size_t count, uint8_t* out, size_t room, size_t* written) {
    size_t taken = 0;
    size_t n = 0;
    for (; taken < count; ++taken) {
        if (n + (in[taken] == telnet::IAC ? 2 : 1) > room) break;
        n += telnet_escape(in[taken], out + n);
    }
    *written = n;
    return taken;
}

}  // namespace tolvane
