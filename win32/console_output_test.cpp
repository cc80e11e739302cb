// Standard output through the writer thread's ring: whatever pieces the
// program hands over, and however far they run past the ring's end, the
// reader gets every byte once and in order.
#include "win32/console.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "base/console_platform.h"

namespace tolvane {

namespace {

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
    return s;
}

// Hands text to console_write_out in pieces of the given sizes, in turn,
// waiting for room where it took nothing; what the pipe's reader got.
std::string through_pipe(const std::string& text, const std::vector<size_t>& pieces) {
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, nullptr, 4096)) return "no pipe";
    const HANDLE old = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, write_end);
    std::string got;
    std::thread reader([&] {
        char block[3000];  // smaller than the writer's blocks: it waits on the pipe
        DWORD n = 0;
        while (got.size() < text.size() && ReadFile(read_end, block, sizeof block, &n, nullptr) && n > 0)
            got.append(block, n);
    });
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t at = 0, turn = 0; at < text.size();) {
        const long n = console_write_out(bytes + at, std::min(pieces[turn % pieces.size()], text.size() - at));
        if (n < 0) break;
        if (n == 0 && WaitForSingleObject(console_output_event(), 5000) != WAIT_OBJECT_0) break;
        at += static_cast<size_t>(n);
        turn += n > 0;
    }
    reader.join();
    SetStdHandle(STD_OUTPUT_HANDLE, old);
    CloseHandle(write_end);
    CloseHandle(read_end);
    return got;
}

}  // namespace

TEST(ConsoleOutput, PipeGetsEveryByteOnceInOrder) {
    const struct {
        const char* what;
        size_t bytes;
        std::vector<size_t> pieces;
    } cases[] = {
        {"one byte at a time", 70000, {1}},
        {"pieces that end anywhere in the ring", 400000, {1, 4095, 16384, 3, 70000, 65536, 777}},
        {"more than the ring at once", 300000, {200000}},
    };
    for (const auto& c : cases) {
        const std::string text = pattern(c.bytes);
        const std::string got = through_pipe(text, c.pieces);
        EXPECT_EQ(got.size(), text.size()) << c.what;
        EXPECT_TRUE(got == text) << c.what;
    }
}

}  // namespace tolvane
