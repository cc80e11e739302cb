#include "posix/tty_frame.h"

#include <cstring>

#include "base/frame.h"
#include "posix/speed.h"

namespace tolvane {

namespace {

#ifdef CMSPAR
constexpr tcflag_t STICK_PARITY = CMSPAR;
#else
constexpr tcflag_t STICK_PARITY = 0;  // no mark or space parity on this system
#endif

constexpr tcflag_t PARITY_CFLAGS = PARENB | PARODD | STICK_PARITY;
constexpr tcflag_t FLOW_IFLAGS = IXON | IXOFF;
constexpr cc_t XON = 0x11;
constexpr cc_t XOFF = 0x13;

tcflag_t data_bits_flag(int bits) { return bits == 5 ? CS5 : bits == 6 ? CS6 : bits == 7 ? CS7 : CS8; }

// Parity is sent and received, never checked: a byte that came with a
// parity error still reaches the console as it came (no INPCK).
tcflag_t parity_flags(parity_kind parity) {
    switch (parity) {
    case parity_kind::none: return 0;
    case parity_kind::odd: return PARENB | PARODD;
    case parity_kind::even: return PARENB;
    case parity_kind::mark: return PARENB | STICK_PARITY | PARODD;
    case parity_kind::space: return PARENB | STICK_PARITY;
    }
    return 0;
}

bool stick_parity(parity_kind parity) { return parity == parity_kind::mark || parity == parity_kind::space; }

}  // namespace

void tty_set_frame(struct termios* t, const line_settings& line) {
    t->c_iflag = (t->c_iflag & ~FLOW_IFLAGS) | (line.flow == flow_kind::soft ? FLOW_IFLAGS : 0);
    t->c_cflag = (t->c_cflag & ~(CSIZE | PARITY_CFLAGS | CSTOPB | CRTSCTS)) | data_bits_flag(line.data_bits) |
                 parity_flags(line.parity) | (line.stop_bits == 2 ? CSTOPB : 0) |
                 (line.flow == flow_kind::hard ? CRTSCTS : 0);
    if (line.flow == flow_kind::soft) {
        t->c_cc[VSTART] = XON;
        t->c_cc[VSTOP] = XOFF;
    }
}

// termios, not the 16-bit termio, so that c_cflag reaches CRTSCTS and CMSPAR.
struct termios tty_raw_settings(const struct termios& saved, const line_settings& line, bool* has_code) {
    struct termios raw;
    std::memset(&raw, 0, sizeof raw);
    raw.c_iflag = IGNBRK | IGNPAR;
    raw.c_oflag = 0;
    raw.c_cflag = CREAD | CLOCAL;
    raw.c_lflag = FLUSHO;
    raw.c_cc[VTIME] = 2;
    raw.c_cc[VMIN] = 16;
    tty_set_frame(&raw, line);
    unsigned code;
    *has_code = speed_code(line.baud, &code);
    cfsetispeed(&raw, *has_code ? code : cfgetispeed(&saved));
    cfsetospeed(&raw, *has_code ? code : cfgetospeed(&saved));
    return raw;
}

std::string tty_frame_refused(const line_settings& line, const struct termios& asked, const struct termios& got) {
    if (stick_parity(line.parity) && STICK_PARITY == 0) return frame_part_text(line, frame_part::parity);
    const tcflag_t differs = got.c_cflag ^ asked.c_cflag;
    if (differs & CSIZE) return frame_part_text(line, frame_part::data_bits);
    if (differs & (line.parity == parity_kind::none ? PARENB : PARITY_CFLAGS))
        return frame_part_text(line, frame_part::parity);
    if (differs & CSTOPB) return frame_part_text(line, frame_part::stop_bits);
    if ((differs & CRTSCTS) || ((got.c_iflag ^ asked.c_iflag) & FLOW_IFLAGS))
        return frame_part_text(line, frame_part::flow);
    return "";
}

}  // namespace tolvane
