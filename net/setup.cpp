#include "net/setup.h"

#include "base/console.h"
#include "base/keys.h"
#include "base/modem.h"

namespace tolvane {

namespace {

// The connection the modem lines go to.
struct modem_target {
    TelnetCodec* codec;
    const NetSetupIo* io;
};

bool send_queued(TelnetCodec& codec, const NetSetupIo& io, deadline until, std::string* why) {
    unsigned char buffer[4096];
    for (size_t n; (n = telnet_take(codec, buffer, sizeof buffer)) > 0;)
        if (!io.send_all(io.context, buffer, n, until, why)) return false;
    return true;
}

bool send_modem_line(void* context, modem_line line, bool on) {
    const modem_target* target = static_cast<const modem_target*>(context);
    if (!telnet_queue_setting(*target->codec, com_port_modem_line(line, on))) return false;
    std::string why;
    return send_queued(*target->codec, *target->io, deadline::in(NET_SETUP_PATIENCE_MS), &why);
}

}  // namespace

bool net_set_up_line(TelnetCodec& codec, const line_settings& line, bool first, bool quiet, const NetSetupIo& io,
                     std::vector<unsigned char>* early, std::string* last_refusal) {
    const char* url = line.device.c_str();
    const auto say = [&](const std::string& why) {
        if (!quiet && !quit_requested()) console_error("open: %s: %s\n", url, why.c_str());
    };
    const auto settings = com_port_line_settings(line);
    telnet_start(codec, settings.data(), settings.size());
    const deadline until = deadline::in(NET_SETUP_PATIENCE_MS);
    unsigned char buffer[4096];
    for (;;) {
        std::string why;
        if (!send_queued(codec, io, until, &why)) {
            say(why);
            return false;
        }
        const com_port_state state = com_port_check(codec, &why);
        if (state == com_port_state::agreed) {
            modem_target target{&codec, &io};
            modem_apply(line, first, send_modem_line, &target, io.pause);
            return true;
        }
        if (state == com_port_state::refused) {
            if (!quiet || why != *last_refusal) console_error("open: %s: %s\n", url, why.c_str());
            *last_refusal = why;
            return false;
        }
        const long got = io.receive(io.context, buffer, sizeof buffer, until, &why);
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
        // A server that floods before it agrees is not read on without end.
        if (early->size() > NET_EARLY_MAX) {
            say("the server sent more than 64 KiB before it took the line's settings");
            return false;
        }
    }
}

}  // namespace tolvane
