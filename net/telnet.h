// Telnet as a serial server speaks it (ser2net's telnet(rfc2217) port): the
// data stream with its commands taken out, the option negotiation of a
// client that wants binary transmission and suppressed go-ahead both ways,
// and the COM-PORT-OPTION commands that set the server's serial line.
//
// Shared by both programs; no sockets here. The platform reads bytes from
// its connection, decodes them in place, and sends what the codec queued
// (its answers and requests) before the next data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/settings.h"  // line_settings, modem_line

namespace tolvane {

namespace telnet {
constexpr uint8_t IAC = 255;
constexpr uint8_t DONT = 254;
constexpr uint8_t DO = 253;
constexpr uint8_t WONT = 252;
constexpr uint8_t WILL = 251;
constexpr uint8_t SB = 250;
constexpr uint8_t SE = 240;

constexpr uint8_t BINARY = 0;
constexpr uint8_t ECHO = 1;
constexpr uint8_t SGA = 3;  // suppress go-ahead
constexpr uint8_t COM_PORT = 44;
}  // namespace telnet

// COM-PORT-OPTION commands as the client sends them; the server answers
// each with the same code plus SERVER.
namespace rfc2217 {
constexpr uint8_t SIGNATURE = 0;
constexpr uint8_t SET_BAUDRATE = 1;
constexpr uint8_t SET_DATASIZE = 2;
constexpr uint8_t SET_PARITY = 3;
constexpr uint8_t SET_STOPSIZE = 4;
constexpr uint8_t SET_CONTROL = 5;
constexpr uint8_t NOTIFY_LINESTATE = 6;
constexpr uint8_t NOTIFY_MODEMSTATE = 7;
constexpr uint8_t FLOWCONTROL_SUSPEND = 8;
constexpr uint8_t FLOWCONTROL_RESUME = 9;
constexpr uint8_t SET_LINESTATE_MASK = 10;
constexpr uint8_t SET_MODEMSTATE_MASK = 11;
constexpr uint8_t PURGE_DATA = 12;
constexpr uint8_t COMMANDS = 13;  // SIGNATURE .. PURGE-DATA
constexpr uint8_t SERVER = 100;

constexpr uint8_t SET_PARITY_NONE = 1;  // then odd, even, mark, space
constexpr uint8_t STOPSIZE_1 = 1;
constexpr uint8_t STOPSIZE_2 = 2;
constexpr uint8_t CONTROL_FLOW_QUERY = 0;
constexpr uint8_t CONTROL_NO_FLOW = 1;
constexpr uint8_t CONTROL_XON_XOFF = 2;
constexpr uint8_t CONTROL_HARDWARE = 3;
constexpr uint8_t CONTROL_BREAK_QUERY = 4;
constexpr uint8_t CONTROL_BREAK_ON = 5;
constexpr uint8_t CONTROL_BREAK_OFF = 6;
constexpr uint8_t CONTROL_DTR_QUERY = 7;
constexpr uint8_t CONTROL_DTR_ON = 8;
constexpr uint8_t CONTROL_DTR_OFF = 9;
constexpr uint8_t CONTROL_RTS_QUERY = 10;
constexpr uint8_t CONTROL_RTS_ON = 11;
constexpr uint8_t CONTROL_RTS_OFF = 12;
constexpr uint8_t CONTROL_INBOUND_QUERY = 13;
constexpr uint8_t CONTROL_INBOUND_NO_FLOW = 14;  // then XON/XOFF, hardware
constexpr uint8_t PURGE_RECEIVED = 1;  // what the server's line received
constexpr uint8_t PURGE_TRANSMIT = 2;  // what it has yet to send
constexpr uint8_t PURGE_BOTH = 3;

// What tolvane calls itself when asked (SIGNATURE), as client or server.
constexpr char SIGNATURE_TEXT[] = "tolvane";
}  // namespace rfc2217

// One setting the client asks the server's serial line for.
struct ComPortSetting {
    uint8_t command;
    uint32_t value;
};

// What an rfc2217:// line asks the server for at the open, in this order:
// the speed, the data bits, the parity, the stop bits and the flow control
// of the settings.
constexpr size_t LINE_SETTINGS = 5;
std::array<ComPortSetting, LINE_SETTINGS> com_port_line_settings(const line_settings& line);

// The whole state of one connection's telnet side.
struct TelnetCodec {
    enum class phase : uint8_t { data, command, option, sb_option, sb_data, sb_command };
    phase at = phase::data;
    uint8_t verb = 0;  // WILL, WONT, DO or DONT, waiting for its option

    // A subnegotiation being read; one longer than the buffer is ignored.
    static constexpr size_t SB_MAX = 64;
    uint8_t sb_option = 0;
    std::array<uint8_t, SB_MAX> sb{};
    size_t sb_length = 0;
    bool sb_too_long = false;

    // Each option on our side (us) and the server's (them).
    enum class state : uint8_t { no, yes, asked };
    std::array<state, 256> us{};
    std::array<state, 256> them{};

    // Bytes to send, oldest first. A server that floods requests without
    // reading the answers loses answers beyond this.
    static constexpr size_t OUT_MAX = 1024;
    std::array<uint8_t, OUT_MAX> out{};
    size_t out_length = 0;

    // The settings to send once the server takes the COM-PORT-OPTION, and
    // the server's answers: the last value for each command.
    std::array<ComPortSetting, LINE_SETTINGS> settings{};
    size_t setting_count = 0;
    std::array<uint32_t, rfc2217::COMMANDS> answer{};
    uint32_t answered = 0;  // bit per command
    bool com_port_refused = false;

    // The server's side of a connection (net/rfc2217_server.h): the
    // COM-PORT-OPTION is taken both ways, and each of its subnegotiations
    // goes to serve with serve_context instead of being read as an answer.
    void (*serve)(void* context, const uint8_t* sb, size_t length) = nullptr;
    void* serve_context = nullptr;
};

// Starts a connection: queues our offers (COM-PORT-OPTION, binary and
// suppressed go-ahead both ways) and keeps the settings to send once the
// server takes the COM-PORT-OPTION. With no settings (count 0) only binary
// and go-ahead are negotiated.
void telnet_start(TelnetCodec& codec, const ComPortSetting* settings, size_t count);

// Takes the telnet commands out of bytes received, in place, answering the
// server's requests into the queue; returns how many data bytes are left
// at the front. Commands split across calls are joined.
size_t telnet_decode(TelnetCodec& codec, uint8_t* bytes, size_t count);

// A data byte as it goes on the wire: 0xFF doubled. Returns 1 or 2.
inline size_t telnet_escape(uint8_t byte, uint8_t* wire) {
    wire[0] = byte;
    if (byte != telnet::IAC) return 1;
    wire[1] = telnet::IAC;
    return 2;
}
// Queues IAC SB COM-PORT code value IAC SE, every 0xFF in value doubled;
// whole, or not at all when the queue has no room for it.
void telnet_queue_com_port(TelnetCodec& codec, uint8_t code, const uint8_t* value, size_t length);

// Moves the queued commands that fit in room into dest, whole (a command
// that does not fit waits for more room); returns how many bytes.
size_t telnet_take(TelnetCodec& codec, uint8_t* dest, size_t room);

// One COM-PORT-OPTION command on the wire: IAC SB COM-PORT command value
// IAC SE, the value big-endian in value_size bytes (4 for the speed, else
// 1), every 0xFF in it doubled. dest needs COMMAND_MAX bytes.
constexpr size_t COMMAND_MAX = 16;
size_t com_port_command(uint8_t command, uint32_t value, size_t value_size, uint8_t* dest);
size_t com_port_command(const ComPortSetting& setting, uint8_t* dest);
// SET-CONTROL for DTR or RTS on or off.
ComPortSetting com_port_modem_line(modem_line line, bool on);
// SET-CONTROL for the break condition on or off.
ComPortSetting com_port_break(bool on);
// Queues one more setting (a modem line, say) once the server has taken
// the COM-PORT-OPTION; false (nothing queued) before that, or on a line
// without it. Its answer is the server's new state, not checked here.
bool telnet_queue_setting(TelnetCodec& codec, const ComPortSetting& setting);

// Where the opening stands: the settings still due, all taken, or refused
// (the server refused the option, or answered a setting with another
// value); why then says which, as "server refused 921600 Baud (has 9600 Baud)".
enum class com_port_state { waiting, agreed, refused };
com_port_state com_port_check(const TelnetCodec& codec, std::string* why);

}  // namespace tolvane
