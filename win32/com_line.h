// A COM port as the line of tolvane-win: opened by number, in the frame
// and with the flow control asked for, DTR and RTS on, binary; its bytes
// moved by the overlapped engine (win32/overlapped_line.h).
#pragma once

#include <windows.h>

#include <string>

#include "base/settings.h"

namespace tolvane {

// The speed, frame and flow control of the settings (RTS/CTS both ways
// with --flow hard, XON/XOFF both ways with --flow soft), DTR on, RTS on
// unless the flow control drives it, binary, parity not checked.
DCB com_settings(const line_settings& line);
// The frame and the flow control of line set in dcb, the rest kept.
void com_set_frame(DCB* dcb, const line_settings& line);
// What of the frame and flow control asked the driver left out, as the
// port's settings read back show it ("7 data bits"); empty when none.
std::string com_frame_refused(const line_settings& line, const DCB& asked, const DCB& got);
// Reads end with what has arrived; writes have no time limit (the wait
// sees Ctrl-Q while one is in flight).
extern const COMMTIMEOUTS com_timeouts;

// The port number in a port's name: COM and digits in any letter case,
// or the digits alone, with a colon after them or \\.\ before them if
// need be ("com1", "COM1:", "1" and "\\.\COM1" give 1); -1 for any other
// name ("/dev/ttyS0", "C:\x", "COM 7").
int com_port_number(const char* device);
// What to say when -c names no port: a whole line.
std::string com_not_a_port(const char* device);

// What to say when COM<n> could not be opened with error: "line in use by
// another program" for a port another program holds, else the system's
// text. A whole line.
std::string com_open_error(const char* port_name, DWORD error);
// What to say when a write to COM<n> failed with error: "write: COM3: "
// and the system's text. A whole line.
std::string com_write_error(const char* port_name, DWORD error);

}  // namespace tolvane
