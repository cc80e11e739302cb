// tolvane-win's console output and session log file. A file is written at
// once; a pipe, which may have nobody reading it, and a console, which
// stops taking text while someone selects in its window, are written by a
// thread of their own, so that the program's one thread never waits for
// them (and reads the line meanwhile). The two share a ring: the program
// puts the bytes in as they come, and the thread writes what is there, a
// block at a time, without waiting for the program between blocks (under
// Wine every handover is a round trip through the server, and the program
// hands over only as often as its reads of the line allow). Either wakes
// the other only while it sleeps; with the ring full the program waits.
//
// A console is UTF-8 for the session, with virtual-terminal processing
// where it has it, and gets its code pages and mode back on every way out.
// It is written as UTF-16, so that a character cut in two by a block's end
// shows whole, and a byte that is no UTF-8 shows as in the console's old
// code page. A file or a pipe gets the bytes as they are.
#include "win32/console.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/console_platform.h"
#include "base/stop.h"
#include "win32/console_text.h"

namespace tolvane {

namespace {

// The most bytes one write hands a console.
constexpr size_t CONSOLE_BLOCK = 16384;
// The bytes on their way to the thread at most: as many as the terminal
// lets wait before it stops reading the line.
constexpr size_t RING_SIZE = 65536;
static_assert((RING_SIZE & (RING_SIZE - 1)) == 0, "the ring's positions wrap by masking");
// The longest UTF-8 sequence, less one: what a block's end may cut off.
constexpr size_t CUT_MAX = 3;

// The console as the program found it, while it is UTF-8 for the session.
struct console_session {
    bool taken = false;
    UINT output_page = 0;
    UINT input_page = 0;
    HANDLE screen = nullptr;  // standard output, where it is a console
    DWORD screen_mode = 0;
    bool mode_changed = false;
    std::unique_ptr<console_text> text;  // bytes that are no UTF-8 in the old page
    std::array<unsigned char, CUT_MAX> cut{};  // a sequence a block's end cut off
    size_t cut_count = 0;
    std::wstring shown;  // one block as UTF-16, kept for its room
};
console_session session;

bool write_wide(HANDLE out, const std::wstring& text) {
    const wchar_t* next = text.data();
    size_t left = text.size();
    while (left > 0) {
        DWORD written = 0;
        if (!WriteConsoleW(out, next, static_cast<DWORD>(left), &written, nullptr) || written == 0) return false;
        next += written;
        left -= written;
    }
    return true;
}

void give_back_at_exit() { console_give_back(); }
void give_back(void*) { console_give_back(); }

// Colours and cursor codes from the board work where the console has
// virtual-terminal processing.
void take_screen_mode() {
    DWORD mode;
    if (!session.taken || session.mode_changed || !session.screen || !GetConsoleMode(session.screen, &mode)) return;
    session.screen_mode = mode;
    session.mode_changed = SetConsoleMode(session.screen, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

// Standard output as it was found; looked at again whenever its handle
// changed (a test that redirects it, say).
struct block_writer {
    HANDLE out = nullptr;
    bool threaded = false;
    HANDLE wake = nullptr;  // auto reset: bytes for a thread that sleeps
    HANDLE room = nullptr;  // manual reset: bytes written, for a program that waits
    std::array<unsigned char, RING_SIZE> ring{};
    // Bytes put in and written so far: the program counts the one, the
    // thread the other; their difference is the bytes on their way, read
    // without asking the system, as often as the loop likes.
    std::atomic<size_t> put{0};
    std::atomic<size_t> written{0};
    // The thread found the ring empty and sleeps, or is about to: set and
    // cleared by the thread only.
    std::atomic<bool> sleeping{false};
    // The program waits for the thread to write: set and cleared by the
    // program only, read by the thread.
    std::atomic<bool> wanted{false};
    std::atomic<bool> failed{false};
    std::atomic<bool> broken{false};  // its reader closed the pipe
};
block_writer writer;

FILE* log_file = nullptr;

bool write_all(HANDLE out, const unsigned char* bytes, size_t count) {
    while (count > 0) {
        DWORD written = 0;
        if (!WriteFile(out, bytes, static_cast<DWORD>(count), &written, nullptr) || written == 0) {
            // A pipe whose reader has gone, as Windows and Wine say it.
            const DWORD error = GetLastError();
            const bool closed = error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
            if (out == writer.out && closed) writer.broken = true;
            return false;
        }
        bytes += written;
        count -= written;
    }
    return true;
}

long write_console(const unsigned char* bytes, size_t count);

bool to_console() { return session.taken && session.screen == writer.out; }

size_t in_flight() { return writer.put - writer.written; }

// Sleeps while the ring is empty. Asleep is said first and the ring looked
// at after, so that bytes put in meanwhile are either seen here or wake it.
void wait_for_bytes() {
    writer.sleeping = true;
    while (in_flight() == 0) WaitForSingleObject(writer.wake, INFINITE);
    writer.sleeping = false;
}

DWORD WINAPI write_blocks(void*) {
    for (;;) {
        wait_for_bytes();
        // What is there, up to a block and the ring's end.
        const size_t at = writer.written % RING_SIZE;
        const size_t size = std::min({in_flight(), CONSOLE_BLOCK, RING_SIZE - at});
        const unsigned char* bytes = writer.ring.data() + at;
        const bool done = to_console() ? write_console(bytes, size) == static_cast<long>(size)
                                       : write_all(writer.out, bytes, size);
        if (!done) writer.failed = true;
        writer.written += size;
        if (writer.wanted) SetEvent(writer.room);  // the program clears wanted
    }
}

// A thread for a pipe or a console, the first time one is written to.
bool start_writer() {
    if (writer.wake != nullptr) return true;
    writer.wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    writer.room = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (writer.wake == nullptr || writer.room == nullptr) return false;
    const HANDLE thread = CreateThread(nullptr, 0, write_blocks, nullptr, 0, nullptr);
    if (thread == nullptr) return false;
    CloseHandle(thread);
    return true;
}

bool writer_busy() { return in_flight() > 0; }

// The program is about to wait for the thread to write more than it had
// when `written` was read: false when it has already (the room's signal
// may then have been missed), and there is no need.
bool want_room(size_t written) {
    ResetEvent(writer.room);
    writer.wanted = true;
    return writer.written == written;
}

void find_output() {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    // A block still on its way goes to the handle it was meant for.
    if (out == writer.out || writer_busy()) return;
    writer.out = out;
    const bool valid = out != nullptr && out != INVALID_HANDLE_VALUE;
    DWORD mode;
    session.screen = valid && GetConsoleMode(out, &mode) ? out : nullptr;
    if (session.screen) console_take_utf8();
    take_screen_mode();
    writer.threaded = valid && (GetFileType(out) == FILE_TYPE_PIPE || session.screen) && start_writer();
    writer.failed = false;
}

// A block of up to CONSOLE_BLOCK bytes to the console: what the last block
// cut off first, and what this one cuts off kept for the next. Only one
// thread at a time writes (the writer's, where there is one).
long write_console(const unsigned char* bytes, size_t count) {
    const size_t size = std::min(count, CONSOLE_BLOCK);
    static std::array<unsigned char, CUT_MAX + CONSOLE_BLOCK> block;
    std::copy_n(session.cut.begin(), session.cut_count, block.begin());
    std::copy_n(bytes, size, block.begin() + session.cut_count);
    const size_t total = session.cut_count + size;
    session.shown.clear();
    const size_t taken = session.text->convert(block.data(), total, false, &session.shown);
    session.cut_count = total - taken;
    std::copy_n(block.begin() + taken, session.cut_count, session.cut.begin());
    if (!session.shown.empty() && !write_wide(session.screen, session.shown)) return -1;
    return static_cast<long>(size);
}

}  // namespace

void console_take_utf8() {
    if (session.taken) return;
    session.output_page = GetConsoleOutputCP();
    session.input_page = GetConsoleCP();
    if (session.output_page == 0) return;  // no console
    session.taken = true;
    const UINT old_page = session.output_page == CP_UTF8 ? GetOEMCP() : session.output_page;
    if (!session.text) session.text.reset(new console_text(old_page));
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);
    take_screen_mode();
    stop_on_exit(give_back);
    static bool at_exit = false;  // every exit, a usage error's included
    if (!at_exit) at_exit = std::atexit(give_back_at_exit) == 0;
}

void console_give_back() {
    if (!session.taken) return;
    session.taken = false;
    stop_forget(give_back);
    // The writer is done by now, unless the console takes nothing.
    if (session.cut_count > 0 && session.screen && !writer_busy()) {
        session.shown.clear();
        session.text->convert(session.cut.data(), session.cut_count, true, &session.shown);
        session.cut_count = 0;
        write_wide(session.screen, session.shown);
    }
    if (session.mode_changed) SetConsoleMode(session.screen, session.screen_mode);
    session.mode_changed = false;
    SetConsoleOutputCP(session.output_page);
    SetConsoleCP(session.input_page);
}

const bool console_text_crlf = true;

// Signalled once a block is free again for the bytes the program could
// not hand over: the wait then returns and the next flush hands them over.
// None while the program waits for no block, so that a signal left over
// from a race never wakes the wait again and again.
HANDLE console_output_event() { return writer.threaded && writer.wanted ? writer.room : nullptr; }

size_t console_out_in_flight() { return in_flight(); }

bool console_out_broken() { return writer.broken; }

long console_write_out(const unsigned char* bytes, size_t count) {
    find_output();
    if (writer.out == nullptr || writer.out == INVALID_HANDLE_VALUE) return -1;
    if (!writer.threaded && to_console()) return write_console(bytes, count);
    if (!writer.threaded) return write_all(writer.out, bytes, count) ? static_cast<long>(count) : -1;
    if (writer.failed) return -1;
    // Asked before looking again: bytes the thread writes from here on
    // signal the room.
    const size_t written = writer.written;
    if (writer.put - written == RING_SIZE && want_room(written)) return 0;
    writer.wanted = false;
    const size_t size = std::min(count, RING_SIZE - in_flight());
    const size_t at = writer.put % RING_SIZE;
    const size_t first = std::min(size, RING_SIZE - at);
    std::copy_n(bytes, first, writer.ring.begin() + at);
    std::copy_n(bytes + first, size - first, writer.ring.begin());
    writer.put += size;
    if (writer.sleeping) SetEvent(writer.wake);
    return static_cast<long>(size);
}

void console_write_error(const char* text, size_t count) {
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err != nullptr && err != INVALID_HANDLE_VALUE) write_all(err, reinterpret_cast<const unsigned char*>(text), count);
}

bool log_file_open(const char* path, bool* ends_line) {
    // Appending, and reading only to see how the last run ended.
    log_file = std::fopen(path, "a+b");
    if (log_file == nullptr) return false;
    std::setvbuf(log_file, nullptr, _IONBF, 0);
    *ends_line = std::fseek(log_file, -1, SEEK_END) != 0 || std::fgetc(log_file) == '\n';
    std::fseek(log_file, 0, SEEK_END);
    return true;
}

long log_file_write(const unsigned char* bytes, size_t count) {
    const size_t n = std::fwrite(bytes, 1, count, log_file);
    return n == count ? static_cast<long>(n) : -1;
}

void log_file_close() {
    if (log_file) std::fclose(log_file);
    log_file = nullptr;
}

// The ways out wait for the next block written.
void console_wait_writable(bool screen, bool, deadline until) {
    if (!screen || !writer.threaded || !writer_busy()) return;
    const int ms = until.left_ms();
    if (want_room(writer.written)) WaitForSingleObject(writer.room, ms < 0 ? INFINITE : static_cast<DWORD>(ms));
    writer.wanted = false;
}

}  // namespace tolvane
