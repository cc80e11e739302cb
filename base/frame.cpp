#include "base/frame.h"

#include <cstring>

namespace tolvane {

namespace {

constexpr const char* PARITY_NAMES[] = {"none", "odd", "even", "mark", "space"};
constexpr const char* FLOW_NAMES[] = {"none", "hard", "soft"};

template <typename Kind, size_t N>
bool parse_name(const char* name, const char* const (&names)[N], Kind* kind) {
    for (size_t i = 0; i < N; ++i) {
        if (std::strcmp(name, names[i]) == 0) {
            *kind = static_cast<Kind>(i);
            return true;
        }
    }
    return false;
}

}  // namespace

const char* parity_name(parity_kind parity) { return PARITY_NAMES[static_cast<int>(parity)]; }
const char* flow_name(flow_kind flow) { return FLOW_NAMES[static_cast<int>(flow)]; }

bool parse_parity(const char* name, parity_kind* parity) { return parse_name(name, PARITY_NAMES, parity); }
bool parse_flow(const char* name, flow_kind* flow) { return parse_name(name, FLOW_NAMES, flow); }

std::string frame_text(const line_settings& line) {
    static const char LETTERS[] = "NOEMS";
    std::string text;
    text += static_cast<char>('0' + line.data_bits);
    text += LETTERS[static_cast<int>(line.parity)];
    text += static_cast<char>('0' + line.stop_bits);
    return text;
}

std::string frame_part_text(const line_settings& line, frame_part part) {
    switch (part) {
    case frame_part::data_bits: return std::to_string(line.data_bits) + " data bits";
    case frame_part::parity:
        return line.parity == parity_kind::none ? "no parity" : std::string(parity_name(line.parity)) + " parity";
    case frame_part::stop_bits: return line.stop_bits == 1 ? "1 stop bit" : "2 stop bits";
    case frame_part::flow:
        return line.flow == flow_kind::none ? "no flow control" : std::string(flow_name(line.flow)) + " flow control";
    }
    return "";
}

}  // namespace tolvane
