// The Windows lines (a COM port, a socket) move their bytes with overlapped
// I/O, so that the program sleeps in one wait (win32/wait.cpp) until the
// line has bytes, a write has finished or a key came.
//
// One read is in flight while no received bytes are held; it ends with
// whatever arrived. A write takes what it is handed in one operation; what
// is handed over meanwhile waits for the next. Each kind of line gives the
// calls that start and finish its operations.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <string>

#include "base/line_transport.h"

namespace tolvane {

// One read takes whatever a fast USB line has delivered; one write takes a
// whole reply to a 4096-byte read, escapes and all.
constexpr size_t LINE_IO_SIZE = 16384;

class overlapped_line : public line_transport {
public:
    overlapped_line();
    ~overlapped_line() override;
    void add_waits(wait_set* set) override;
    // False when the operations' events could not be made.
    bool made() const;

    long read(unsigned char* buffer, size_t size) override;
    long write(const unsigned char* bytes, size_t count) override;
    size_t unsent() override;
    bool close(bool drained, int ms) override;
    bool let_go() override;

    // Looks at the operations in flight without waiting: takes a finished
    // read's bytes and a finished write's result, then starts a read when no
    // received bytes are held.
    void poll();
    // The events of the operations in flight, for the wait; returns how many
    // (at most 3) were put into handles.
    int wait_handles(HANDLE* handles) const;
    // The time the wait may sleep at most: -1, or a few milliseconds where a
    // line neither waits in a read nor in WaitCommEvent.
    int wait_ms() const;
    // Bytes received and not yet taken by read.
    size_t held() const { return in_end - in_next; }
    // True while a write is in flight.
    bool writing() const { return write_op.in_flight; }
    // The device went away or the connection failed.
    bool gone() const { return is_gone; }

protected:
    struct operation {
        OVERLAPPED overlapped{};  // its hEvent is event tagged (overlapped_line.cpp)
        HANDLE event = nullptr;   // manual reset: the operation is over
        bool in_flight = false;
    };

    // The calls of each kind of line.
    virtual BOOL start_read_call(unsigned char* buffer, DWORD size, DWORD* got, OVERLAPPED* overlapped) = 0;
    virtual BOOL start_write_call(const unsigned char* bytes, DWORD count, DWORD* written, OVERLAPPED* overlapped) = 0;
    virtual BOOL result_call(OVERLAPPED* overlapped, DWORD* count) = 0;
    // What CancelIoEx is given.
    virtual HANDLE io_handle() const = 0;
    // A read that finished with got bytes (0: nothing arrived). Calls
    // keep_received with the data, or marks the line gone.
    virtual void took(DWORD got) = 0;
    // An operation failed: a line error to clear, or a line gone for good.
    virtual void after_failure() = 0;
    virtual void write_failed() { after_failure(); }
    virtual void close_device() = 0;
    virtual void purge_output() {}

    void keep_received(size_t count);
    void start_read();
    void set_gone();
    // Drops the write in flight: on the way out, for a line that takes nothing.
    void drop_output();

    std::array<unsigned char, LINE_IO_SIZE> in_buffer;
    operation read_op;
    operation event_op;  // WaitCommEvent, where a port uses it
    DWORD event_mask = 0;
    int empty_turns = 0;  // reads in a row that brought nothing
    int failures = 0;     // reads in a row that failed

private:
    bool finished(operation* op, DWORD* count);
    bool wait_out(operation* op);
    bool end_operations();

    operation write_op;
    size_t in_next = 0;
    size_t in_end = 0;
    std::array<unsigned char, LINE_IO_SIZE> in_flight;  // the write's bytes
    size_t flight_count = 0;
    bool is_gone = false;
};

// Prints nothing; the system's text for error, without its line end.
std::string system_error_text(DWORD error);

}  // namespace tolvane
