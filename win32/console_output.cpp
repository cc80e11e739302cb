// tolvane-win's console output and session log file. A console or a file
// is written at once; a pipe, which may have nobody reading it, is written
// by a thread of its own, so that the program's one thread never waits for
// it: a block is handed over while the thread is idle, and the wait sees
// the thread become idle again.
#include "win32/console.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>

#include "base/console_platform.h"

namespace tolvane {

namespace {

// Standard output as it was found; looked at again whenever its handle
// changed (a test that redirects it, say).
struct pipe_writer {
    HANDLE out = nullptr;
    bool threaded = false;
    HANDLE wake = nullptr;  // auto reset: a block to write
    HANDLE idle = nullptr;  // manual reset: the thread takes a block
    std::array<unsigned char, 16384> block{};
    // The block's size while the thread is at it, 0 while it is idle: read
    // without asking the system, as often as the loop likes.
    std::atomic<size_t> in_flight{0};
    std::atomic<bool> failed{false};
};
pipe_writer writer;

FILE* log_file = nullptr;

bool write_all(HANDLE out, const unsigned char* bytes, size_t count) {
    while (count > 0) {
        DWORD written = 0;
        if (!WriteFile(out, bytes, static_cast<DWORD>(count), &written, nullptr) || written == 0) return false;
        bytes += written;
        count -= written;
    }
    return true;
}

DWORD WINAPI write_blocks(void*) {
    for (;;) {
        WaitForSingleObject(writer.wake, INFINITE);
        if (!write_all(writer.out, writer.block.data(), writer.in_flight)) writer.failed = true;
        writer.in_flight = 0;
        SetEvent(writer.idle);
    }
}

// A thread for a pipe, the first time one is written to.
bool start_writer() {
    if (writer.wake != nullptr) return true;
    writer.wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    writer.idle = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    if (writer.wake == nullptr || writer.idle == nullptr) return false;
    const HANDLE thread = CreateThread(nullptr, 0, write_blocks, nullptr, 0, nullptr);
    if (thread == nullptr) return false;
    CloseHandle(thread);
    return true;
}

bool writer_busy() { return writer.in_flight > 0; }

void find_output() {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    // A block still on its way goes to the handle it was meant for.
    if (out == writer.out || writer_busy()) return;
    writer.out = out;
    writer.threaded = out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) == FILE_TYPE_PIPE &&
                      start_writer();
    writer.failed = false;
}

}  // namespace

const bool console_text_crlf = true;

// Signalled while the writer is idle: with bytes queued, the wait then
// returns at once and the next flush hands them over.
HANDLE console_output_event() { return writer.threaded ? writer.idle : nullptr; }

size_t console_out_in_flight() { return writer.in_flight; }

long console_write_out(const unsigned char* bytes, size_t count) {
    find_output();
    if (writer.out == nullptr || writer.out == INVALID_HANDLE_VALUE) return -1;
    if (!writer.threaded) return write_all(writer.out, bytes, count) ? static_cast<long>(count) : -1;
    if (writer.failed) return -1;
    if (writer_busy()) return 0;
    const size_t size = std::min(count, writer.block.size());
    std::copy_n(bytes, size, writer.block.begin());
    ResetEvent(writer.idle);
    writer.in_flight = size;
    SetEvent(writer.wake);
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

void console_wait_writable(bool screen, bool, deadline until) {
    const HANDLE idle = screen && writer_busy() ? console_output_event() : nullptr;
    if (idle == nullptr) return;
    const int ms = until.left_ms();
    WaitForSingleObject(idle, ms < 0 ? INFINITE : static_cast<DWORD>(ms));
}

}  // namespace tolvane
