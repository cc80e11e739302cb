// The floor of console output under Wine: a bare Windows program that
// writes a file's bytes to its console in 16 KB blocks, as fast as the
// console takes them. It times its own writes and puts the seconds into
// a file, so that Wine's start is not counted.
//
//     win_console_writer.exe TEXT_FILE SECONDS_FILE
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: win_console_writer TEXT_FILE SECONDS_FILE\n");
        return 2;
    }
    std::string text;
    if (FILE* f = std::fopen(argv[1], "rb")) {
        char block[65536];
        for (size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) text.append(block, n);
        std::fclose(f);
    }
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    constexpr size_t BLOCK = 16384;
    for (size_t at = 0; at < text.size();) {
        DWORD written = 0;
        const DWORD size = static_cast<DWORD>(text.size() - at < BLOCK ? text.size() - at : BLOCK);
        if (!WriteFile(out, text.data() + at, size, &written, nullptr) || written == 0) return 1;
        at += written;
    }
    QueryPerformanceCounter(&end);
    FILE* result = std::fopen(argv[2], "w");
    if (result == nullptr) return 1;
    std::fprintf(result, "%.6f\n", static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart);
    std::fclose(result);
    return 0;
}
