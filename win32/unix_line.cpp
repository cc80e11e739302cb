// The line unix:PATH in tolvane-win: an AF_UNIX socket (Windows 10 and
// later), another tolvane's --share, moved as a tcp:// line is.
#include <winsock2.h>
#include <afunix.h>

#include <cstring>
#include <string>

#include "base/console.h"
#include "base/line_transport.h"
#include "win32/socket.h"

namespace tolvane {

line_transport* local_transport_open(const line_settings& settings, const std::string& path, bool quiet) {
    std::string why = "Winsock did not start";
    SOCKET s = INVALID_SOCKET;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        why = "path too long";
    } else if (win_net_started()) {
        std::memcpy(address.sun_path, path.c_str(), path.size());
        s = socket(AF_UNIX, SOCK_STREAM, 0);
        if (s != INVALID_SOCKET && connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            why = "Winsock error " + std::to_string(WSAGetLastError());
            closesocket(s);
            s = INVALID_SOCKET;
        } else if (s == INVALID_SOCKET) {
            why = "Winsock error " + std::to_string(WSAGetLastError()) + " (no AF_UNIX here: use tcp://)";
        }
    }
    if (s == INVALID_SOCKET) {
        if (!quiet) console_error("open: %s: %s\n", settings.device.c_str(), why.c_str());
        return nullptr;
    }
    u_long non_blocking = 1;
    ioctlsocket(s, FIONBIO, &non_blocking);
    return win_socket_line(s, settings.baud);
}

}  // namespace tolvane
