#include "win32/com_port.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace tolvane {

namespace {

using Bytes = std::vector<unsigned char>;

// A port whose WriteFile and ReadFile are ours: each call is logged, writes
// take at most write_limit bytes (0: none), reads hand out `arriving`.
struct FakeDevice {
    std::vector<std::string> calls;  // "w<count>" / "r" in call order
    Bytes written;
    DWORD write_limit = 0xFFFFFFFF;
    BOOL write_result = TRUE;
    BOOL read_result = TRUE;
    BOOL clear_result = TRUE;
    Bytes arriving;
};
FakeDevice* device = nullptr;

BOOL fake_write(HANDLE, const void* bytes, DWORD count, DWORD* written) {
    const DWORD n = count < device->write_limit ? count : device->write_limit;
    device->calls.push_back("w" + std::to_string(count));
    const auto* b = static_cast<const unsigned char*>(bytes);
    device->written.insert(device->written.end(), b, b + n);
    *written = n;
    return device->write_result;
}

BOOL fake_read(HANDLE, void* bytes, DWORD count, DWORD* got) {
    device->calls.push_back("r");
    const DWORD n = device->arriving.size() < count ? static_cast<DWORD>(device->arriving.size()) : count;
    std::memcpy(bytes, device->arriving.data(), n);
    device->arriving.erase(device->arriving.begin(), device->arriving.begin() + n);
    *got = n;
    return device->read_result;
}

BOOL fake_clear(HANDLE) {
    device->calls.push_back("c");
    return device->clear_result;
}

class ComPort : public testing::Test {
protected:
    void SetUp() override {
        device = &fake;
        com_write = fake_write;
        com_read = fake_read;
        com_clear = fake_clear;
        port.in_cursor = port.in_buffer.data();
    }
    void TearDown() override { device = nullptr; }

    void queue(int n, int first = 0) {
        for (int i = 0; i < n; ++i) ASSERT_EQ(com_putc(&port, (first + i) & 0xFF), 0);
    }
    static Bytes counting(int n, int first = 0) {
        Bytes b;
        for (int i = 0; i < n; ++i) b.push_back(static_cast<unsigned char>(first + i));
        return b;
    }

    FakeDevice fake;
    com_port port{};
};

}  // namespace

TEST_F(ComPort, Queues1021BytesAndWritesAll1022WithTheNextInOneCall) {
    queue(1021);
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_EQ(com_putc(&port, 1021 & 0xFF), 0);
    EXPECT_EQ(fake.calls, std::vector<std::string>{"w1022"});
    EXPECT_EQ(fake.written, counting(1022));
    EXPECT_EQ(port.out_count, 0);
    EXPECT_EQ(com_flush(&port), 0);
    EXPECT_EQ(fake.calls.size(), 1u) << "nothing queued, nothing written";
}

TEST_F(ComPort, ReadingWritesTheQueuedBytesFirst) {
    queue(5, 'a');
    fake.arriving = {'x'};
    EXPECT_EQ(com_getc(&port), 'x');
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"w5", "r"}));
    EXPECT_EQ(fake.written, counting(5, 'a'));
}

TEST_F(ComPort, HandsOutABlockByteByByteThenReadsAgain) {
    fake.arriving = {0x41, 0x9A, 0xFF};
    EXPECT_EQ(com_getc(&port), 0x41);
    EXPECT_EQ(com_getc(&port), 0x9A) << "bytes above 0x7F come as 0..255";
    EXPECT_EQ(com_getc(&port), 0xFF);
    EXPECT_EQ(fake.calls, std::vector<std::string>{"r"}) << "one read for the block";
    EXPECT_EQ(com_getc(&port), -1);
    EXPECT_EQ(com_getc(&port), -1);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"r", "r", "r"}));
    fake.arriving = {0x10};
    EXPECT_EQ(com_getc(&port), 0x10);
}

TEST_F(ComPort, ReadsAtMostOneBufferAtATime) {
    fake.arriving = counting(1500);
    for (int i = 0; i < 1500; ++i) ASSERT_EQ(com_getc(&port), i & 0xFF) << i;
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"r", "r"}));
}

TEST_F(ComPort, ShortWritesThatGetSomewhereAreCompleted) {
    fake.write_limit = 400;
    queue(1021);
    EXPECT_EQ(com_putc(&port, 1021 & 0xFF), 0);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"w1022", "w622", "w222"}));
    EXPECT_EQ(fake.written, counting(1022));
}

TEST_F(ComPort, AWriteThatStallsOrFailsDropsTheRestAndReportsIt) {
    // Stalls: the first call moves 3 bytes, the next moves none.
    fake.write_limit = 3;
    queue(5);
    fake.calls.clear();
    BOOL (*stall_after_first)(HANDLE, const void*, DWORD, DWORD*) = [](HANDLE h, const void* b, DWORD n, DWORD* w) {
        const BOOL ok = fake_write(h, b, n, w);
        device->write_limit = 0;
        return ok;
    };
    com_write = stall_after_first;
    EXPECT_EQ(com_flush(&port), -1);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"w5", "w2"}));
    EXPECT_EQ(fake.written, counting(3));
    EXPECT_EQ(port.out_count, 0) << "the rest is dropped";

    // Fails outright, having written something.
    com_write = fake_write;
    fake = FakeDevice{};
    fake.write_limit = 2;
    fake.write_result = FALSE;
    queue(1021);
    EXPECT_EQ(com_putc(&port, 0), -1) << "the flush's result";
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"w1022", "c"})) << "the error is cleared";
    EXPECT_EQ(port.out_count, 0);
    fake.arriving = {'k'};
    EXPECT_EQ(com_getc(&port), 'k');
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"w1022", "c", "r"})) << "nothing left to write";
}

TEST_F(ComPort, AFailedReadIsNoByteAndTheErrorIsCleared) {
    fake.read_result = FALSE;
    EXPECT_EQ(com_getc(&port), -1);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"r", "c"}));
    fake.read_result = TRUE;
    fake.arriving = {'o', 'k'};
    EXPECT_EQ(com_getc(&port), 'o');
    EXPECT_EQ(com_getc(&port), 'k');
}

TEST(ComSettings, AreThoseTheLineNeeds) {
    const DCB dcb = com_settings(57600);
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, 57600u);
    // The flag bits as one word: binary, CTS flow, RTS on, abort on error.
    DWORD flags;
    std::memcpy(&flags, reinterpret_cast<const char*>(&dcb) + 8, sizeof flags);
    EXPECT_EQ(flags, 0x5005u);
    EXPECT_EQ(dcb.XonLim, 0);
    EXPECT_EQ(dcb.XoffLim, 0);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.XonChar | dcb.XoffChar | dcb.ErrorChar | dcb.EofChar | dcb.EvtChar, 0);

    EXPECT_EQ(com_timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(com_timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(com_timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(com_timeouts.WriteTotalTimeoutMultiplier, 1u);
    EXPECT_EQ(com_timeouts.WriteTotalTimeoutConstant, 1u);
}

TEST(ComPortNumber, SkipsLettersThenReadsTheNumber) {
    EXPECT_EQ(com_port_number("com1"), 1);
    EXPECT_EQ(com_port_number("COM1"), 1);
    EXPECT_EQ(com_port_number("1"), 1);
    EXPECT_EQ(com_port_number("COM12"), 12);
    EXPECT_EQ(com_port_number("/dev/ttyS0"), 0);
    EXPECT_EQ(com_port_number("COM"), 0);
    EXPECT_EQ(com_port_number("COM 7"), 7);
    EXPECT_EQ(com_port_number("com-3"), -3);
    EXPECT_EQ(com_port_number("COM4x2"), 4);
}

TEST(ComOpen, NamesThePortAndTheSystemsReasonWhenItCannot) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(com_open(0, 115200, 30000, 30000), nullptr);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("open COM0: ", 0), 0u) << out;
    EXPECT_GT(out.size(), std::strlen("open COM0: \n")) << "the system's text: " << out;
    EXPECT_EQ(out.back(), '\n');
}


// A line error is fetched and the port goes on; a port that takes no call at
// all, not even that one, is a device that went away.
TEST_F(ComPort, APortThatTakesNoMoreCallsIsGone) {
    fake.read_result = FALSE;
    EXPECT_EQ(com_getc(&port), -1);
    EXPECT_FALSE(port.gone) << "a line error";
    fake.read_result = TRUE;
    fake.arriving = {'a'};
    EXPECT_EQ(com_getc(&port), 'a');

    fake.read_result = FALSE;
    fake.clear_result = FALSE;
    EXPECT_EQ(com_getc(&port), -1);
    EXPECT_TRUE(port.gone);

    com_port writer{};
    writer.in_cursor = writer.in_buffer.data();
    fake.write_result = FALSE;
    fake.write_limit = 0;
    EXPECT_EQ(com_putc(&writer, 'x'), 0);
    EXPECT_EQ(com_flush(&writer), -1);
    EXPECT_TRUE(writer.gone);
}

}  // namespace tolvane
