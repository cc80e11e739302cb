// Setting up an rfc2217:// line once its connection is made, the same in
// both programs: the COM-PORT-OPTION offered, the line's settings sent
// once the server takes it, every answer read, then the modem lines asked
// for. The platform moves the bytes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "base/deadline.h"
#include "base/settings.h"
#include "net/telnet.h"

namespace tolvane {

// The connection while the line is set up; context is the platform's.
struct NetSetupIo {
    void* context;
    // Sends all of count bytes before until; false with why when it cannot.
    bool (*send_all)(void* context, const unsigned char* bytes, size_t count, deadline until, std::string* why);
    // Receives what comes before until: the byte count, 0 when the server
    // closed the connection, -1 on time-out or failure (why says which).
    long (*receive)(void* context, unsigned char* buffer, size_t size, deadline until, std::string* why);
    // Sleeps ms (the reset pulse).
    void (*pause)(int ms);
};

// Data a server may send while the line is set up, before it agreed to
// the settings; kept for the terminal, and beyond this the set-up fails.
constexpr size_t NET_EARLY_MAX = 65536;
// A host that does not answer a connect within this is unreachable.
constexpr int NET_CONNECT_PATIENCE_MS = 5000;
// A ser2net answers the line's settings within milliseconds; one that says
// nothing in this long does not speak the COM-PORT-OPTION.
constexpr int NET_SETUP_PATIENCE_MS = 3000;

// Sets up the line of settings (its speed, frame and flow control) on
// codec's connection, then the modem lines (the reset pulse only at the
// first open). Data between the server's answers goes to early. False
// after saying why ("open: URL: reason"; quiet says nothing of a server
// that is not there, and a refusal only when it differs from last_refusal).
bool net_set_up_line(TelnetCodec& codec, const line_settings& settings, bool first, bool quiet, const NetSetupIo& io,
                     std::vector<unsigned char>* early, std::string* last_refusal);

}  // namespace tolvane
