// The frame and the flow control of a line by name: what --parity and
// --flow take, and the short form people write ("8N1", "7E2") that the
// messages and the command keys show.
#pragma once

#include <string>

#include "base/settings.h"

namespace tolvane {

// "none", "odd", "even", "mark", "space"; "none", "hard", "soft".
const char* parity_name(parity_kind parity);
const char* flow_name(flow_kind flow);
// The name as the option takes it (lower case only); false for any other.
bool parse_parity(const char* name, parity_kind* parity);
bool parse_flow(const char* name, flow_kind* flow);

// Data bits, the parity's letter (N O E M S) and stop bits: "8N1".
std::string frame_text(const line_settings& line);

// One part of the line's frame and flow control as a message names it
// ("DEV: 7 data bits not supported"): "7 data bits", "even parity" or "no
// parity", "2 stop bits", "hard flow control" or "no flow control".
enum class frame_part { data_bits, parity, stop_bits, flow };
std::string frame_part_text(const line_settings& line, frame_part part);

}  // namespace tolvane
