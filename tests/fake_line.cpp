#include "tests/fake_line.h"

#include "link/link.h"

namespace fake_line {

namespace {
Bytes in;
std::size_t next = 0;
Bytes out;
bool ran_dry = false;
}  // namespace

void reset(const Bytes& incoming) {
    in = incoming;
    next = 0;
    out.clear();
    ran_dry = false;
}

const Bytes& sent() { return out; }
std::size_t unread() { return in.size() - next; }
bool underrun() { return ran_dry; }

}  // namespace fake_line

namespace tolvane {

int link_get_raw() {
    if (fake_line::next >= fake_line::in.size()) {
        fake_line::ran_dry = true;
        return BYTE_ETX;
    }
    return fake_line::in[fake_line::next++];
}

void link_put_raw(int byte) { fake_line::out.push_back(static_cast<uint8_t>(byte)); }

}  // namespace tolvane
