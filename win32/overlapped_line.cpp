#include "win32/overlapped_line.h"

#include "win32/wait.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace tolvane {

void overlapped_line::add_waits(wait_set* set) { set->line = this; }

namespace {

// A line that waits neither in a read nor in WaitCommEvent (a driver that
// ends WaitCommEvent at once with nothing) is looked at again this often
// instead of spinning.
constexpr int LOOK_AGAIN_MS = 10;
constexpr DWORD CANCEL_PATIENCE_MS = 1000;

// An operation's event with its lowest bit set, which the system ignores in
// a handle: no completion port hears of the operation. Under Wine telling
// one is a call to its server for every read and write, even with no port
// there. (WaitCommEvent, which is rare, keeps its event as it is.)
HANDLE tagged(HANDLE event) { return reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) | 1); }

bool done(const OVERLAPPED& overlapped, bool in_flight) { return in_flight && HasOverlappedIoCompleted(&overlapped); }

// Started: true when the operation is in flight, false when it finished
// at once (ok then says how).
bool pending(BOOL started, bool* in_flight, bool* ok) {
    *ok = started != FALSE;
    if (!started && GetLastError() == ERROR_IO_PENDING) {
        *in_flight = true;
        *ok = true;
        return true;
    }
    return false;
}

}  // namespace

overlapped_line::overlapped_line() {
    for (operation* op : {&read_op, &write_op, &event_op}) {
        op->event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        op->overlapped.hEvent = op != &event_op ? tagged(op->event) : op->event;
    }
}

overlapped_line::~overlapped_line() {
    for (operation* op : {&read_op, &write_op, &event_op})
        if (op->event != nullptr) CloseHandle(op->event);
}

bool overlapped_line::made() const {
    return read_op.event && write_op.event && event_op.event;
}

void overlapped_line::set_gone() {
    is_gone = true;
    why = "line closed";
    went_away = true;
}

void overlapped_line::keep_received(size_t count) {
    in_next = 0;
    in_end = count;
    empty_turns = 0;
    failures = 0;
}

void overlapped_line::start_read() {
    DWORD got = 0;
    bool ok;
    if (pending(start_read_call(in_buffer.data(), static_cast<DWORD>(in_buffer.size()), &got, &read_op.overlapped),
                &read_op.in_flight, &ok))
        return;
    if (ok)
        took(got);
    else
        after_failure();
}

bool overlapped_line::finished(operation* op, DWORD* count) {
    op->in_flight = false;
    *count = 0;
    return result_call(&op->overlapped, count) != FALSE;
}

void overlapped_line::poll() {
    DWORD count;
    if (done(read_op.overlapped, read_op.in_flight)) {
        if (finished(&read_op, &count))
            took(count);
        else
            after_failure();
    }
    if (done(event_op.overlapped, event_op.in_flight)) finished(&event_op, &count);
    if (done(write_op.overlapped, write_op.in_flight)) {
        const size_t sent = flight_count;
        flight_count = 0;
        if (!finished(&write_op, &count)) {
            write_failed();
        } else if (count < sent) {
            SetLastError(ERROR_WRITE_FAULT);  // ended early without an error of its own
            write_failed();
        }
    }
    if (is_gone) return;
    if (held() == 0 && !read_op.in_flight && !event_op.in_flight) start_read();
}

long overlapped_line::read(unsigned char* buffer, size_t size) {
    poll();
    if (held() > 0) {
        const size_t n = std::min(size, held());
        std::memcpy(buffer, in_buffer.data() + in_next, n);
        in_next += n;
        poll();  // the next read in flight while these are served
        return static_cast<long>(n);
    }
    return is_gone ? LINE_FAILED : 0;
}

long overlapped_line::write(const unsigned char* bytes, size_t count) {
    poll();
    if (is_gone) return LINE_FAILED;
    if (write_op.in_flight) return 0;
    const size_t n = std::min(count, in_flight.size());
    std::memcpy(in_flight.data(), bytes, n);
    flight_count = n;
    DWORD written = 0;
    bool ok;
    if (pending(start_write_call(in_flight.data(), static_cast<DWORD>(n), &written, &write_op.overlapped),
                &write_op.in_flight, &ok))
        return static_cast<long>(n);
    flight_count = 0;
    if (!ok) write_failed();  // the bytes are dropped; a line gone says so at the next look
    return static_cast<long>(n);
}

size_t overlapped_line::unsent() {
    poll();
    return write_op.in_flight ? flight_count : 0;
}

int overlapped_line::wait_handles(HANDLE* handles) const {
    int n = 0;
    for (const operation* op : {&read_op, &event_op, &write_op})
        if (op->in_flight) handles[n++] = op->event;
    return n;
}

int overlapped_line::wait_ms() const {
    const bool waits_for_input = read_op.in_flight || event_op.in_flight || held() > 0;
    return waits_for_input || is_gone ? -1 : LOOK_AGAIN_MS;
}

// True once op is over (or was not in flight).
bool overlapped_line::wait_out(operation* op) {
    if (!op->in_flight) return true;
    CancelIoEx(io_handle(), &op->overlapped);
    // A driver ends a cancelled operation at once; one that does not must
    // not hold up the way out.
    if (WaitForSingleObject(op->event, CANCEL_PATIENCE_MS) != WAIT_OBJECT_0) return false;
    op->in_flight = false;
    return true;
}

void overlapped_line::drop_output() {
    if (wait_out(&write_op)) flight_count = 0;
    purge_output();
}

// Ends what is in flight and closes the device. An operation that never
// ended may still write into the record: it is then left to it rather than
// freed.
bool overlapped_line::end_operations() {
    const bool over = wait_out(&read_op) & wait_out(&event_op) & wait_out(&write_op);
    close_device();
    return over;
}

bool overlapped_line::close(bool drained, int) {
    if (!drained) drop_output();
    return end_operations();
}

bool overlapped_line::let_go() { return end_operations(); }

std::string system_error_text(DWORD error) {
    char* text = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
                       nullptr);
    if (length == 0 || text == nullptr) return "error " + std::to_string(static_cast<unsigned long>(error));
    // The system's text ends in its own CR LF; the caller adds the line end.
    size_t end = std::strlen(text);
    while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == ' ')) --end;
    std::string result(text, end);
    LocalFree(text);
    return result;
}

}  // namespace tolvane
