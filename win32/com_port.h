// The line of the Windows build: a COM port opened by number (or a network
// line's connection, win32/net.h), moved with
// overlapped I/O so that the program sleeps in one wait (win32/line.h)
// until the port has bytes, a write has finished or a key came.
//
// One read is always in flight while the input buffer is empty: it ends
// with whatever arrived. Output is queued and handed to the port in one
// write; what is queued meanwhile goes in the next.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <array>
#include <cstddef>

namespace tolvane {

// One read takes whatever a fast USB line has delivered; one write takes a
// whole reply to a 4096-byte read, escapes and all.
constexpr size_t COM_BUFFER_SIZE = 16384;

// An overlapped operation and the event that ends its wait.
struct com_operation {
    OVERLAPPED overlapped;
    bool in_flight;
};

struct com_port {
    HANDLE handle;
    // A network line's connection in place of the port (win32/net.h).
    SOCKET socket = INVALID_SOCKET;
    DCB dcb;
    com_operation read_op;
    com_operation write_op;
    // Where a read returns at once with nothing (real ports under these
    // time-outs), the next byte is waited for with WaitCommEvent.
    com_operation event_op;
    DWORD event_mask;
    int empty_turns;  // reads in a row that brought nothing
    int failures;     // reads in a row that failed
    std::array<unsigned char, COM_BUFFER_SIZE> in_buffer;
    size_t in_next;
    size_t in_end;
    std::array<unsigned char, COM_BUFFER_SIZE> out_queue;
    size_t out_count;
    std::array<unsigned char, COM_BUFFER_SIZE> in_flight;  // the write's bytes
    size_t flight_count;
    bool gone;  // the device went away (a USB port unplugged)
};

// 8N1 at baud, CTS output flow control, RTS on, DTR off, binary.
DCB com_settings(long baud);
// Reads end with what has arrived; writes have no time limit (the wait
// sees Ctrl-Q while one is in flight).
extern const COMMTIMEOUTS com_timeouts;

// A record with nothing open yet (its operations' events made); null when
// even that fails.
com_port* com_record();
// Opens and configures COM<number>; null after printing why not (quiet:
// without a word, for looking again after the port went away). A port
// another program holds says so.
com_port* com_open(int number, long baud, int in_queue, int out_queue, bool quiet = false);
// Ends what is in flight, closes the port and frees the record; whatever
// is still queued is dropped.
void com_close(com_port* port);

// Looks at the operations in flight without waiting: takes a finished
// read's bytes and a finished write's result, then starts a read when the
// input buffer is empty and a write when output is queued.
void com_poll(com_port* port);
// The events of the operations in flight, for the wait; returns how many
// (at most 3) were put into handles.
int com_wait_handles(const com_port* port, HANDLE* handles);
// The time the wait may sleep at most: -1, or a few milliseconds where a
// port neither waits in a read nor in WaitCommEvent.
int com_wait_ms(const com_port* port);

// Bytes received and not taken yet.
inline size_t com_buffered(const com_port* port) { return port->in_end - port->in_next; }
// Output queued or still in flight.
inline size_t com_pending(const com_port* port) { return port->out_count + port->flight_count; }
// Room in the output queue.
inline size_t com_room(const com_port* port) { return port->out_queue.size() - port->out_count; }
// Queues bytes for the line (at most com_room of them).
void com_queue(com_port* port, const unsigned char* bytes, size_t count);
// Drops the queued output and aborts the write in flight: on the way out,
// for a line that takes nothing.
void com_drop_output(com_port* port);

// Why COM<n> could not be opened, from GetLastError(): "line in use by
// another program" for a port another program holds, else the system's text.
void com_show_open_error(const char* port_name);
// Prints the system's text for GetLastError() and a line end.
void show_system_error();

// The port number in a device name: leading letters skipped, then the
// number as atoi reads it ("com1", "COM1" and "1" give 1; "/dev/ttyS0" 0).
int com_port_number(const char* device);

}  // namespace tolvane
