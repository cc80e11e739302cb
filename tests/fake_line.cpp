#include "tests/fake_line.h"

#include "link/link.h"

namespace fake_line {

namespace {
Bytes in;
std::size_t next = 0;
Bytes out;
int past_end = 0;
int end_value = tolvane::BYTE_ETX;
}  // namespace

void reset(const Bytes& incoming) {
    in = incoming;
    next = 0;
    out.clear();
    past_end = 0;
    end_value = tolvane::BYTE_ETX;
}

void reset_no_host(const Bytes& incoming) {
    reset(incoming);
    end_value = -1;
}

const Bytes& sent() { return out; }
std::size_t unread() { return in.size() - next; }
bool underrun() { return past_end > 0; }
int reads_past_end() { return past_end; }

}  // namespace fake_line

namespace tolvane {

int link_get_raw() {
    if (fake_line::next >= fake_line::in.size()) {
        // A reader that ignores -1 gets ETX after a while, and so fails its
        // test instead of hanging it.
        return ++fake_line::past_end > 100 ? BYTE_ETX : fake_line::end_value;
    }
    return fake_line::in[fake_line::next++];
}

void link_put_raw(int byte) { fake_line::out.push_back(static_cast<uint8_t>(byte)); }

}  // namespace tolvane
