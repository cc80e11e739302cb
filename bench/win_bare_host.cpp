// The floor of a file-service exchange under Wine: a bare Windows program
// on a COM port that serves one file from memory (bench/bare_requests.cpp),
// as bench/bare_host.cpp does on a pty. It pays Wine's cost of a port read
// and write and nothing else; tolvane-win's turnaround beside it shows what
// tolvane-win itself adds.
//
//     win_bare_host.exe PORT FILE     (PORT: 20 for COM20)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bare_requests.h"
#include "link/link.h"

namespace {

HANDLE port = INVALID_HANDLE_VALUE;
OVERLAPPED operation{};  // one at a time, waited for at once
unsigned char in[4096];
DWORD in_next = 0, in_end = 0;
unsigned char out[16384];
DWORD out_count = 0;

// Overlapped, as tolvane-win does it: Wine keeps such a read waiting for
// the first byte, where a plain read with these time-outs returns empty.
DWORD finish(BOOL started) {
    DWORD count = 0;
    if (!started && GetLastError() != ERROR_IO_PENDING) std::exit(3);
    if (!GetOverlappedResult(port, &operation, &count, TRUE)) std::exit(3);
    return count;
}

void flush_out() {
    DWORD done = 0;
    while (done < out_count) done += finish(WriteFile(port, out + done, out_count - done, nullptr, &operation));
    out_count = 0;
}

}  // namespace

// What is gathered leaves before each wait for the target, in one write.
extern "C" int link_get_raw(void) {
    while (in_next == in_end) {
        flush_out();
        in_next = in_end = 0;
        in_end = finish(ReadFile(port, in, sizeof in, nullptr, &operation));
    }
    return in[in_next++];
}

extern "C" void link_put_raw(int byte) {
    if (out_count == sizeof out) flush_out();
    out[out_count++] = static_cast<unsigned char>(byte);
}

namespace {

// A port that fails ends the program (finish), so the line is up while it runs.
bool line_up() { return true; }

[[noreturn]] void serve(const std::string& content) {
    bench::BareFile file;
    file.content = &content;
    for (;;) {
        if (tolvane::link_get() == tolvane::SYM_STX) bench::bare_answer(file, line_up);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: win_bare_host PORT FILE\n");
        return 2;
    }
    std::string content;
    if (FILE* f = std::fopen(argv[2], "rb")) {
        char block[65536];
        for (size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) content.append(block, n);
        std::fclose(f);
    }
    const std::string path = std::string("\\\\.\\COM") + argv[1];
    port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                       nullptr);
    operation.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "win_bare_host: cannot open %s\n", path.c_str());
        return 1;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = 115200;
    dcb.fBinary = 1;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(port, &dcb);
    // A read ends with what has arrived once there is a byte.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    SetCommTimeouts(port, &timeouts);
    std::printf("serving\n");
    std::fflush(stdout);
    serve(content);
}
