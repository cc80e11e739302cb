// A COM port as the line of tolvane-win: opened by number, 8N1 with CTS
// output flow control, RTS on, DTR off, binary; its bytes moved by the
// overlapped engine (win32/overlapped_line.h).
#pragma once

#include <windows.h>

#include <string>

namespace tolvane {

// 8N1 at baud, CTS output flow control, RTS on, DTR off, binary.
DCB com_settings(long baud);
// Reads end with what has arrived; writes have no time limit (the wait
// sees Ctrl-Q while one is in flight).
extern const COMMTIMEOUTS com_timeouts;

// The port number in a device name: a leading \\.\ and letters skipped,
// then the number as atoi reads it ("com1", "COM1", "1" and "\\.\COM1" give
// 1; "/dev/ttyS0" 0).
int com_port_number(const char* device);

// What to say when COM<n> could not be opened with error: "line in use by
// another program" for a port another program holds, else the system's
// text. A whole line.
std::string com_open_error(const char* port_name, DWORD error);
// What to say when a write to COM<n> failed with error: "write: COM3: "
// and the system's text. A whole line.
std::string com_write_error(const char* port_name, DWORD error);

}  // namespace tolvane
