#include "net/setup.h"

#include <chrono>

#include "base/console.h"
#include "base/keys.h"
#include "base/modem.h"

namespace tolvane {

namespace {

using clock = std::chrono::steady_clock;

int ms_left(clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// The connection the modem lines go to; modem_apply takes plain calls.
TelnetCodec* modem_codec = nullptr;
const NetSetupIo* modem_io = nullptr;

bool send_queued(TelnetCodec& codec, const NetSetupIo& io, clock::time_point deadline, std::string* why) {
    unsigned char buffer[4096];
    for (size_t n; (n = telnet_take(codec, buffer, sizeof buffer)) > 0;)
        if (!io.send_all(buffer, n, ms_left(deadline), why)) return false;
    return true;
}

bool send_modem_line(modem_line line, bool on) {
    if (!telnet_queue_setting(*modem_codec, com_port_modem_line(line, on))) return false;
    std::string why;
    return send_queued(*modem_codec, *modem_io, clock::now() + std::chrono::milliseconds(NET_SETUP_PATIENCE_MS),
                       &why);
}

}  // namespace

bool net_set_up_line(TelnetCodec& codec, const char* url, long baud, bool quiet, const NetSetupIo& io,
                     std::vector<unsigned char>* early, std::string* last_refusal) {
    const auto say = [&](const std::string& why) {
        if (!quiet && !quit_requested()) console_print("open: %s: %s\n", url, why.c_str());
    };
    const auto settings = com_port_line_settings(static_cast<uint32_t>(baud));
    telnet_start(codec, settings.data(), settings.size());
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(NET_SETUP_PATIENCE_MS);
    unsigned char buffer[4096];
    for (;;) {
        std::string why;
        if (!send_queued(codec, io, deadline, &why)) {
            say(why);
            return false;
        }
        const com_port_state state = com_port_check(codec, &why);
        if (state == com_port_state::agreed) {
            modem_codec = &codec;
            modem_io = &io;
            modem_apply(url, !quiet, send_modem_line, io.pause);
            return true;
        }
        if (state == com_port_state::refused) {
            if (!quiet || why != *last_refusal) console_print("open: %s: %s\n", url, why.c_str());
            *last_refusal = why;
            return false;
        }
        const long got = io.receive(buffer, sizeof buffer, ms_left(deadline), &why);
        if (got == 0) {
            say("the server closed the connection");
            return false;
        }
        if (got < 0) {
            say(why.empty() ? "no answer to the line's settings (not a telnet(rfc2217) port?)" : why);
            return false;
        }
        const size_t data = telnet_decode(codec, buffer, static_cast<size_t>(got));
        early->insert(early->end(), buffer, buffer + data);
    }
}

}  // namespace tolvane
