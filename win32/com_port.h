// The line of the Windows build: a COM port opened by number. Output is
// queued and written in one go; input is read in blocks without waiting.
#pragma once

#include <windows.h>

#include <array>

namespace tolvane {

constexpr int COM_BUFFER_SIZE = 1024;
constexpr int COM_FLUSH_AT = 1022;

struct com_port {
    HANDLE handle;
    DCB dcb;
    std::array<unsigned char, COM_BUFFER_SIZE> out_buffer;
    int out_count;
    std::array<unsigned char, COM_BUFFER_SIZE> in_buffer;
    int in_count;              // bytes of in_buffer not taken yet
    unsigned char* in_cursor;  // the next of them
    bool gone;                 // the device went away (a USB port unplugged)
};

// 8N1 at baud, CTS output flow control, RTS on, DTR off, binary.
DCB com_settings(long baud);
// Reads return at once with what has arrived; writes wait 1 ms + 1 ms a byte.
extern const COMMTIMEOUTS com_timeouts;

// Opens and configures COM<number>; null after printing why not (quiet:
// without a word, for looking again after the port went away).
com_port* com_open(int number, long baud, int in_queue, int out_queue, bool quiet = false);
// Closes the port and frees the record; whatever is still queued is dropped.
void com_close(com_port* port);

// Writes the queued bytes. 0, or -1 when not all of them could be written
// (the rest is dropped).
int com_flush(com_port* port);
// Queues one byte; the 1022nd queued byte flushes. 0, or the flush's result.
int com_putc(com_port* port, int byte);
// Flushes, then returns the next received byte 0..255, or -1 when none has
// arrived. Never waits.
int com_getc(com_port* port);

// Prints the system's text for GetLastError() and a newline.
void show_system_error();

// The port number in a device name: leading letters skipped, then the
// number as atoi reads it ("com1", "COM1" and "1" give 1; "/dev/ttyS0" 0).
int com_port_number(const char* device);

// The calls that move bytes, and the one that lets the port go on after a
// line error; tests put their own in.
using com_write_call = BOOL (*)(HANDLE handle, const void* bytes, DWORD count, DWORD* written);
using com_read_call = BOOL (*)(HANDLE handle, void* bytes, DWORD count, DWORD* got);
// False when the port takes no more calls at all: the device is gone.
using com_clear_call = BOOL (*)(HANDLE handle);
extern com_write_call com_write;
extern com_read_call com_read;
extern com_clear_call com_clear;

}  // namespace tolvane
