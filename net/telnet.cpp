#include "net/telnet.h"

#include <cstring>

namespace tolvane {

namespace {

using state = TelnetCodec::state;
using phase = TelnetCodec::phase;

void queue(TelnetCodec& c, const uint8_t* bytes, size_t count) {
    if (c.out_length + count > c.out.size()) return;  // dropped whole, never cut
    std::memcpy(c.out.data() + c.out_length, bytes, count);
    c.out_length += count;
}

void queue_verb(TelnetCodec& c, uint8_t verb, uint8_t option) {
    const uint8_t bytes[3] = {telnet::IAC, verb, option};
    queue(c, bytes, sizeof bytes);
}

// What we take: binary and no go-ahead both ways; the COM-PORT-OPTION on
// our side only when we asked for it. Everything else is refused.
// A server takes the COM-PORT-OPTION both ways, as its clients ask for it.
bool we_do(const TelnetCodec& c, uint8_t option) {
    if (option == telnet::COM_PORT) return c.setting_count > 0 || c.serve != nullptr;
    return option == telnet::BINARY || option == telnet::SGA;
}
bool they_may(const TelnetCodec& c, uint8_t option) {
    if (option == telnet::COM_PORT) return c.serve != nullptr;
    return option == telnet::BINARY || option == telnet::SGA;
}

void send_settings(TelnetCodec& c) {
    c.answered = 0;  // only answers to these count
    for (size_t i = 0; i < c.setting_count; ++i) {
        uint8_t wire[COMMAND_MAX];
        queue(c, wire, com_port_command(c.settings[i], wire));
    }
}

void our_side_now(TelnetCodec& c, uint8_t option, state s) {
    const state was = c.us[option];
    c.us[option] = s;
    if (option != telnet::COM_PORT) return;
    if (s == state::yes && was != state::yes) send_settings(c);
    if (s == state::no && c.setting_count > 0) c.com_port_refused = true;
}

// Each request is answered only when it changes an option, so two sides
// that disagree never loop.
void negotiate(TelnetCodec& c, uint8_t verb, uint8_t option) {
    state& us = c.us[option];
    state& them = c.them[option];
    switch (verb) {
    case telnet::WILL:
        if (them == state::asked) them = state::yes;
        else if (them == state::no && they_may(c, option)) them = state::yes, queue_verb(c, telnet::DO, option);
        else if (them == state::no) queue_verb(c, telnet::DONT, option);
        break;
    case telnet::WONT:
        if (them == state::yes) queue_verb(c, telnet::DONT, option);
        them = state::no;
        break;
    case telnet::DO:
        if (us == state::asked) our_side_now(c, option, state::yes);
        else if (us == state::no && we_do(c, option)) our_side_now(c, option, state::yes), queue_verb(c, telnet::WILL, option);
        else if (us == state::no) queue_verb(c, telnet::WONT, option);
        break;
    case telnet::DONT:
        if (us == state::yes) queue_verb(c, telnet::WONT, option);
        if (us != state::no) our_side_now(c, option, state::no);
        break;
    }
}

uint32_t big_endian(const uint8_t* bytes, size_t count) {
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i) value = value << 8 | bytes[i];
    return value;
}

void subnegotiation(TelnetCodec& c) {
    if (c.sb_option != telnet::COM_PORT || c.sb_too_long || c.sb_length == 0) return;
    if (c.serve != nullptr) {
        c.serve(c.serve_context, c.sb.data(), c.sb_length);
        return;
    }
    const uint8_t code = c.sb[0];
    if (code < rfc2217::SERVER || code >= rfc2217::SERVER + rfc2217::COMMANDS) return;
    const uint8_t command = code - rfc2217::SERVER;
    const uint8_t* value = c.sb.data() + 1;
    const size_t value_length = c.sb_length - 1;
    if (command == rfc2217::SIGNATURE) {
        if (value_length > 0) return;  // the server's own signature
        telnet_queue_com_port(c, rfc2217::SIGNATURE, reinterpret_cast<const uint8_t*>(rfc2217::SIGNATURE_TEXT),
                              sizeof rfc2217::SIGNATURE_TEXT - 1);
        return;
    }
    const size_t size = command == rfc2217::SET_BAUDRATE ? 4 : 1;
    if (value_length < size) return;
    c.answer[command] = big_endian(value, size);
    c.answered |= 1u << command;
}

}  // namespace

std::array<ComPortSetting, LINE_SETTINGS> com_port_line_settings(const line_settings& line) {
    const uint32_t flow = line.flow == flow_kind::hard   ? rfc2217::CONTROL_HARDWARE
                          : line.flow == flow_kind::soft ? rfc2217::CONTROL_XON_XOFF
                                                         : rfc2217::CONTROL_NO_FLOW;
    return {{
        {rfc2217::SET_BAUDRATE, static_cast<uint32_t>(line.baud)},
        {rfc2217::SET_DATASIZE, static_cast<uint32_t>(line.data_bits)},
        {rfc2217::SET_PARITY, rfc2217::SET_PARITY_NONE + static_cast<uint32_t>(line.parity)},
        {rfc2217::SET_STOPSIZE, line.stop_bits == 2 ? rfc2217::STOPSIZE_2 : rfc2217::STOPSIZE_1},
        {rfc2217::SET_CONTROL, flow},
    }};
}

void telnet_start(TelnetCodec& c, const ComPortSetting* settings, size_t count) {
    c = TelnetCodec{};
    c.setting_count = count < c.settings.size() ? count : c.settings.size();
    for (size_t i = 0; i < c.setting_count; ++i) c.settings[i] = settings[i];
    const auto ask = [&c](uint8_t verb, uint8_t option) {
        (verb == telnet::WILL ? c.us : c.them)[option] = state::asked;
        queue_verb(c, verb, option);
    };
    if (c.setting_count > 0) ask(telnet::WILL, telnet::COM_PORT);
    ask(telnet::WILL, telnet::BINARY);
    ask(telnet::DO, telnet::BINARY);
    ask(telnet::WILL, telnet::SGA);
    ask(telnet::DO, telnet::SGA);
}

size_t telnet_decode(TelnetCodec& c, uint8_t* bytes, size_t count) {
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        switch (c.at) {
        case phase::data:
            if (b == telnet::IAC) c.at = phase::command;
            else bytes[kept++] = b;
            break;
        case phase::command:
            c.at = phase::data;
            if (b == telnet::IAC) {
                bytes[kept++] = b;
            } else if (b >= telnet::WILL && b <= telnet::DONT) {
                c.verb = b;
                c.at = phase::option;
            } else if (b == telnet::SB) {
                c.at = phase::sb_option;
            }  // the one-byte commands (NOP, GA, break...) mean nothing here
            break;
        case phase::option:
            negotiate(c, c.verb, b);
            c.at = phase::data;
            break;
        case phase::sb_option:
            c.sb_option = b;
            c.sb_length = 0;
            c.sb_too_long = false;
            c.at = phase::sb_data;
            break;
        case phase::sb_data:
        case phase::sb_command:
            if (c.at == phase::sb_data && b == telnet::IAC) {
                c.at = phase::sb_command;
                break;
            }
            if (c.at == phase::sb_command && b == telnet::SE) {
                subnegotiation(c);
                c.at = phase::data;
                break;
            }
            if (c.at == phase::sb_command && b != telnet::IAC) {
                // A command inside a subnegotiation ends it unread.
                c.at = phase::command;
                --i;
                break;
            }
            if (c.sb_length < c.sb.size()) c.sb[c.sb_length++] = b;
            else c.sb_too_long = true;
            c.at = phase::sb_data;
            break;
        }
    }
    return kept;
}

void telnet_queue_com_port(TelnetCodec& c, uint8_t code, const uint8_t* value, size_t length) {
    // Each value byte may go doubled; a value longer than a subnegotiation
    // can hold is no command of ours.
    uint8_t wire[4 + 2 * TelnetCodec::SB_MAX + 2] = {telnet::IAC, telnet::SB, telnet::COM_PORT, code};
    if (length > TelnetCodec::SB_MAX) return;
    size_t n = 4;
    for (size_t i = 0; i < length; ++i) n += telnet_escape(value[i], wire + n);
    wire[n++] = telnet::IAC;
    wire[n++] = telnet::SE;
    queue(c, wire, n);
}

// The length of the queued command at p (the queue holds whole commands of
// our own only): IAC and a verb and its option, IAC SB ... IAC SE, or IAC
// and a one-byte command.
size_t command_length(const uint8_t* p, size_t available) {
    if (available < 2) return available;
    if (p[1] >= telnet::WILL && p[1] <= telnet::DONT) return 3;
    if (p[1] != telnet::SB) return 2;
    for (size_t i = 2; i + 1 < available; ++i) {
        if (p[i] != telnet::IAC) continue;
        if (p[i + 1] == telnet::SE) return i + 2;
        ++i;  // IAC IAC: a data byte 0xFF
    }
    return available;
}

size_t telnet_take(TelnetCodec& c, uint8_t* dest, size_t room) {
    // Whole commands only: a command cut in two would take the data that
    // comes between its parts into itself.
    size_t n = 0;
    while (n < c.out_length) {
        const size_t next = command_length(c.out.data() + n, c.out_length - n);
        if (n + next > room) break;
        n += next;
    }
    if (n == 0) return 0;  // dest may be null then
    std::memcpy(dest, c.out.data(), n);
    std::memmove(c.out.data(), c.out.data() + n, c.out_length - n);
    c.out_length -= n;
    return n;
}

size_t com_port_command(uint8_t command, uint32_t value, size_t value_size, uint8_t* dest) {
    size_t n = 0;
    dest[n++] = telnet::IAC;
    dest[n++] = telnet::SB;
    dest[n++] = telnet::COM_PORT;
    dest[n++] = command;
    for (size_t i = value_size; i-- > 0;) n += telnet_escape(static_cast<uint8_t>(value >> (8 * i)), dest + n);
    dest[n++] = telnet::IAC;
    dest[n++] = telnet::SE;
    return n;
}

size_t com_port_command(const ComPortSetting& s, uint8_t* dest) {
    return com_port_command(s.command, s.value, s.command == rfc2217::SET_BAUDRATE ? 4 : 1, dest);
}

bool telnet_queue_setting(TelnetCodec& c, const ComPortSetting& setting) {
    if (c.setting_count == 0 || c.us[telnet::COM_PORT] != state::yes) return false;
    uint8_t wire[COMMAND_MAX];
    queue(c, wire, com_port_command(setting, wire));
    return true;
}

ComPortSetting com_port_modem_line(modem_line line, bool on) {
    if (line == modem_line::dtr) return {rfc2217::SET_CONTROL, on ? rfc2217::CONTROL_DTR_ON : rfc2217::CONTROL_DTR_OFF};
    return {rfc2217::SET_CONTROL, on ? rfc2217::CONTROL_RTS_ON : rfc2217::CONTROL_RTS_OFF};
}

ComPortSetting com_port_break(bool on) {
    return {rfc2217::SET_CONTROL, on ? rfc2217::CONTROL_BREAK_ON : rfc2217::CONTROL_BREAK_OFF};
}

namespace {

std::string setting_text(uint8_t command, uint32_t value) {
    const std::string number = std::to_string(value);
    switch (command) {
    case rfc2217::SET_BAUDRATE:
        return number + " Baud";
    case rfc2217::SET_DATASIZE:
        return number + " data bits";
    case rfc2217::SET_PARITY: {
        static const char* const parities[] = {"parity ?", "no parity", "odd parity", "even parity", "mark parity",
                                               "space parity"};
        return value < 6 ? parities[value] : "parity " + number;
    }
    case rfc2217::SET_STOPSIZE:
        return value == 1 ? "1 stop bit" : value == 2 ? "2 stop bits" : value == 3 ? "1.5 stop bits" : "stop size " + number;
    case rfc2217::SET_CONTROL:
        return value == rfc2217::CONTROL_NO_FLOW    ? "no flow control"
               : value == rfc2217::CONTROL_XON_XOFF ? "XON/XOFF flow control"
               : value == rfc2217::CONTROL_HARDWARE ? "hardware flow control"
                                                    : "control " + number;
    }
    return "setting " + std::to_string(command) + " " + number;
}

}  // namespace

com_port_state com_port_check(const TelnetCodec& c, std::string* why) {
    if (c.com_port_refused) {
        *why = "server refused the COM-PORT-OPTION (RFC 2217)";
        return com_port_state::refused;
    }
    if (c.us[telnet::COM_PORT] != state::yes) return com_port_state::waiting;
    for (size_t i = 0; i < c.setting_count; ++i) {
        const ComPortSetting& s = c.settings[i];
        if (!(c.answered & (1u << s.command))) return com_port_state::waiting;
        if (c.answer[s.command] != s.value) {
            *why = "server refused " + setting_text(s.command, s.value) + " (has " +
                   setting_text(s.command, c.answer[s.command]) + ")";
            return com_port_state::refused;
        }
    }
    return com_port_state::agreed;
}

}  // namespace tolvane
