#include "net/net_line.h"

#include <algorithm>
#include <cstring>

#include "base/line_transport.h"

namespace tolvane {

size_t net_line::take_early(unsigned char* buffer, size_t size) {
    const size_t n = std::min(size, early_held());
    if (n == 0) return 0;
    std::memcpy(buffer, early.data() + early_next, n);
    early_next += n;
    return n;
}

bool net_line::set_frame(const line_settings& frame) {
    if (!telnet) return false;
    const auto settings = com_port_line_settings(frame);
    for (size_t i = 1; i < settings.size(); ++i)  // all but the speed
        if (!telnet_queue_setting(codec, settings[i])) return false;
    return true;
}

void net_line::purge(bool input, bool output) {
    const uint32_t what = (input ? rfc2217::PURGE_RECEIVED : 0) | (output ? rfc2217::PURGE_TRANSMIT : 0);
    if (telnet && what != 0) telnet_queue_setting(codec, {rfc2217::PURGE_DATA, what});
}

int net_line::doubled_byte() const { return telnet ? telnet::IAC : NO_DOUBLED_BYTE; }

}  // namespace tolvane
