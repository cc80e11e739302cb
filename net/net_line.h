// What a network line keeps beside its connection, the same in both
// programs' transports (posix/socket_line.cpp, win32/socket_line.cpp):
// telnet on an rfc2217:// line, and the data that came while it was set up.
#pragma once

#include <cstddef>
#include <vector>

#include "base/settings.h"
#include "net/telnet.h"

namespace tolvane {

struct net_line {
    bool telnet = false;
    TelnetCodec codec;
    long baud = 0;
    // Data that came between the server's answers while the line was set up.
    std::vector<unsigned char> early;
    size_t early_next = 0;

    // The early data first: how many bytes went into buffer (0: none is held).
    size_t take_early(unsigned char* buffer, size_t size);
    size_t early_held() const { return early.size() - early_next; }
    // Telnet taken out of bytes received, in place: how many data bytes are
    // left at the front (0: only telnet came).
    size_t decode(unsigned char* bytes, size_t count) { return telnet ? telnet_decode(codec, bytes, count) : count; }
    // The transport's own parts of the line_transport interface.
    int doubled_byte() const;
    size_t take_output(unsigned char* dest, size_t room) { return telnet ? telnet_take(codec, dest, room) : 0; }
    // RFC 2217's SET-CONTROL, sent with the next output; false on a raw line.
    bool set_break(bool on) { return telnet && telnet_queue_setting(codec, com_port_break(on)); }
    bool set_modem_line(modem_line line, bool on) {
        return telnet && telnet_queue_setting(codec, com_port_modem_line(line, on));
    }
    // RFC 2217's SET-DATASIZE, SET-PARITY, SET-STOPSIZE and the flow
    // control's SET-CONTROL, answered as the speed is.
    bool set_frame(const line_settings& frame);
    // RFC 2217's PURGE-DATA.
    void purge(bool input, bool output);
    // RFC 2217's SET-BAUDRATE: the server's answer is its new state, as for
    // the modem lines.
    bool set_speed(long new_baud) {
        const ComPortSetting setting{rfc2217::SET_BAUDRATE, static_cast<uint32_t>(new_baud)};
        if (!telnet || new_baud <= 0 || !telnet_queue_setting(codec, setting)) return false;
        baud = new_baud;
        return true;
    }
};

}  // namespace tolvane
