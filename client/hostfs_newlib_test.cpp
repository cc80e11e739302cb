// newlib's system calls (hostfs_newlib.c) over the fake line: open's flags
// as fopen modes, the table of descriptors, errno, and the console on
// descriptors 0, 1 and 2.
#include "client/hostfs_newlib.h"

#include <fcntl.h>
#include <sys/time.h>
#include <sys/times.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "client/hostfs.h"
#include "tests/fake_line.h"

using fake_line::Bytes;

namespace {

constexpr int FIRST_FD = 3;
constexpr int FILES = 8;  // HOSTFS_NEWLIB_FILES

Bytes handle_reply(uint32_t handle) {
    return {0x03, static_cast<uint8_t>(handle >> 24), static_cast<uint8_t>(handle >> 16),
            static_cast<uint8_t>(handle >> 8), static_cast<uint8_t>(handle)};
}
const Bytes RESULT_0 = {0x03, 0x00, 0x00};
const Bytes RESULT_MINUS_1 = {0x03, 0xFF, 0xFF};
// The version reply of a host that serves codes 0..21, and a stat's reply:
// a file of 16 bytes changed at second 9.
const Bytes SERVES_ALL = {0x03, 0x00, 0x01, 0x00, 0x3F, 0xFF, 0xFF};
const Bytes STATUS_FILE_16 = {0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0x10, 0x00, 0x00, 0x00, 0x09};

std::string hex(const Bytes& bytes) {
    std::string text;
    char one[4];
    for (uint8_t b : bytes) {
        std::snprintf(one, sizeof one, "%02X ", b);
        text += one;
    }
    return text;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The modes of the open requests sent: STX, code 0, name, ETX, mode, ETX.
std::vector<std::string> modes_sent() {
    const Bytes& sent = fake_line::sent();
    std::vector<std::string> modes;
    for (size_t i = 0; i + 1 < sent.size(); ++i) {
        if (sent[i] != 0x02 || sent[i + 1] != 0x00) continue;
        size_t j = i + 2;
        while (j < sent.size() && sent[j] != 0x03) ++j;  // the name
        std::string mode;
        for (++j; j < sent.size() && sent[j] != 0x03; ++j) mode += static_cast<char>(sent[j]);
        modes.push_back(mode);
        i = j;
    }
    return modes;
}

// Bare STX bytes: one per request.
int requests_sent() {
    const Bytes& sent = fake_line::sent();
    int count = 0;
    for (size_t i = 0; i < sent.size(); ++i) {
        if (sent[i] == 0x10) ++i;
        else count += sent[i] == 0x02;
    }
    return count;
}

// Each test starts and ends with every descriptor free.
class NewlibCalls : public ::testing::Test {
protected:
    void SetUp() override { host_forget_host(); }
    void TearDown() override {
        Bytes replies;
        for (int i = 0; i < FILES; ++i) replies = replies + RESULT_0;
        fake_line::reset(replies);
        for (int fd = FIRST_FD; fd < FIRST_FD + FILES; ++fd) _close(fd);
    }

    // Opens with these flags against a host that answers handle 1; the
    // modes sent.
    std::vector<std::string> open_modes(int flags) {
        fake_line::reset(handle_reply(1) + RESULT_0);
        const int fd = _open("f.bin", flags, 0644);
        EXPECT_EQ(fd, FIRST_FD) << "flags " << flags;
        const std::vector<std::string> modes = modes_sent();
        EXPECT_EQ(_close(fd), 0);
        return modes;
    }
};

using Modes = std::vector<std::string>;

TEST_F(NewlibCalls, FlagsBecomeBinaryFopenModes) {
    EXPECT_EQ(open_modes(O_RDONLY), Modes{"rb"});
    EXPECT_EQ(open_modes(O_WRONLY | O_CREAT | O_TRUNC), Modes{"wb"});
    EXPECT_EQ(open_modes(O_WRONLY | O_CREAT | O_APPEND), Modes{"ab"});
    EXPECT_EQ(open_modes(O_RDWR), Modes{"r+b"});
    EXPECT_EQ(open_modes(O_RDWR | O_CREAT | O_TRUNC), Modes{"w+b"});
    EXPECT_EQ(open_modes(O_RDWR | O_CREAT | O_APPEND), Modes{"a+b"});
    EXPECT_EQ(open_modes(O_WRONLY | O_CREAT | O_EXCL), Modes{"wbx"});
    EXPECT_EQ(open_modes(O_RDWR | O_CREAT | O_EXCL | O_TRUNC), Modes{"w+bx"});
    EXPECT_EQ(open_modes(O_RDONLY | O_CREAT | O_EXCL), Modes{"w+bx"});
}

TEST_F(NewlibCalls, FlagsWithoutTheirFopenModeComeClose) {
    EXPECT_EQ(open_modes(O_WRONLY), Modes{"r+b"}) << "kept, must exist";
    EXPECT_EQ(open_modes(O_WRONLY | O_TRUNC), Modes{"wb"}) << "created all the same";
    EXPECT_EQ(open_modes(O_WRONLY | O_APPEND), Modes{"ab"}) << "created all the same";
    EXPECT_EQ(open_modes(O_RDONLY | O_TRUNC), Modes{"rb"}) << "not truncated";
    EXPECT_EQ(open_modes(O_RDONLY | O_APPEND), Modes{"rb"});
    EXPECT_EQ(open_modes(O_RDWR | O_CREAT), Modes{"r+b"}) << "there: kept";
    EXPECT_EQ(open_modes(O_EXCL | O_RDWR), Modes{"r+b"}) << "O_EXCL means nothing without O_CREAT";
}

// O_CREAT without O_TRUNC: the file kept if it is there, else made.
TEST_F(NewlibCalls, CreateTriesTheFileAsItIsFirst) {
    const struct {
        int flags;
        Modes modes;
    } cases[] = {
        {O_RDWR | O_CREAT, {"r+b", "w+b"}},
        {O_WRONLY | O_CREAT, {"r+b", "wb"}},
        {O_RDONLY | O_CREAT, {"rb", "w+b"}},
    };
    for (const auto& c : cases) {
        fake_line::reset(handle_reply(0) + handle_reply(9) + RESULT_0);
        const int fd = _open("new.txt", c.flags);
        EXPECT_EQ(fd, FIRST_FD);
        EXPECT_EQ(modes_sent(), c.modes);
        EXPECT_EQ(_close(fd), 0);
    }
}

TEST_F(NewlibCalls, FlagsThatCannotBeMappedAreRefusedWithoutARequest) {
    for (int flags : {O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, O_WRONLY | O_CREAT | O_EXCL | O_APPEND, O_ACCMODE}) {
        fake_line::reset(handle_reply(1));
        errno = 0;
        EXPECT_EQ(_open("f", flags), -1) << flags;
        EXPECT_EQ(errno, EINVAL) << flags;
        EXPECT_TRUE(fake_line::sent().empty()) << flags;
    }
    fake_line::reset(handle_reply(1));
    EXPECT_EQ(_open(std::string(HOST_NAME_MAX_LENGTH + 1, 'n').c_str(), O_RDONLY), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_TRUE(fake_line::sent().empty());
}

TEST_F(NewlibCalls, AFailedOpenSetsErrnoAndKeepsItsDescriptorFree) {
    fake_line::reset(handle_reply(0));
    EXPECT_EQ(_open("none", O_RDONLY), -1);
    EXPECT_EQ(errno, ENOENT);
    fake_line::reset(handle_reply(0));
    EXPECT_EQ(_open("there", O_WRONLY | O_CREAT | O_EXCL), -1);
    EXPECT_EQ(errno, EEXIST);
    fake_line::reset(handle_reply(0) + handle_reply(0));
    EXPECT_EQ(_open("nowhere/x", O_RDWR | O_CREAT), -1);
    EXPECT_EQ(modes_sent(), (Modes{"r+b", "w+b"}));
    EXPECT_EQ(errno, ENOENT);
    fake_line::reset(handle_reply(4));
    EXPECT_EQ(_open("some", O_RDONLY), FIRST_FD);
}

TEST_F(NewlibCalls, DescriptorsAreTheTableEntriesFreedByClose) {
    Bytes replies;
    for (uint32_t h = 1; h <= FILES; ++h) replies = replies + handle_reply(0x40 + h);
    fake_line::reset(replies);
    for (int i = 0; i < FILES; ++i) EXPECT_EQ(_open("f", O_RDONLY), FIRST_FD + i);
    fake_line::reset(handle_reply(99));
    EXPECT_EQ(_open("one too many", O_RDONLY), -1);
    EXPECT_EQ(errno, EMFILE);
    EXPECT_TRUE(fake_line::sent().empty());

    // Closing fd 5 closes the host's handle 0x43, and 5 is given next.
    fake_line::reset(RESULT_0 + handle_reply(0x50));
    EXPECT_EQ(_close(5), 0);
    EXPECT_EQ(fake_line::sent(), (Bytes{0x02, 0x10, 0x03, 0x00, 0x00, 0x00, 0x43}));
    EXPECT_EQ(_open("g", O_RDONLY), 5);

    // A failed close still frees the descriptor.
    fake_line::reset(RESULT_MINUS_1);
    EXPECT_EQ(_close(6), -1);
    EXPECT_EQ(errno, EIO);
    fake_line::reset();
    EXPECT_EQ(_close(6), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_TRUE(fake_line::sent().empty());
}

TEST_F(NewlibCalls, BadDescriptorsFailWithoutARequest) {
    char byte = 0;
    struct stat status;
    fake_line::reset();
    for (int fd : {-1, FIRST_FD, FIRST_FD + FILES, 1000}) {
        errno = 0;
        EXPECT_EQ(_read(fd, &byte, 1), -1) << fd;
        EXPECT_EQ(errno, EBADF);
        errno = 0;
        EXPECT_EQ(_write(fd, &byte, 1), -1) << fd;
        EXPECT_EQ(errno, EBADF);
        errno = 0;
        EXPECT_EQ(_lseek(fd, 0, SEEK_SET), -1) << fd;
        EXPECT_EQ(errno, EBADF);
        errno = 0;
        EXPECT_EQ(_fstat(fd, &status), -1) << fd;
        EXPECT_EQ(errno, EBADF);
        errno = 0;
        EXPECT_EQ(_isatty(fd), 0) << fd;
        EXPECT_EQ(errno, EBADF);
        EXPECT_EQ(_close(fd), -1) << fd;
    }
    EXPECT_TRUE(fake_line::sent().empty());
}

TEST_F(NewlibCalls, ReadAndWriteFollowTheAccessAskedFor) {
    char data[4] = {'a', 'b', 'c', 'd'};
    fake_line::reset(handle_reply(1) + handle_reply(2));
    const int reading = _open("r", O_RDONLY);
    const int writing = _open("w", O_WRONLY | O_CREAT | O_TRUNC);
    fake_line::reset();
    EXPECT_EQ(_write(reading, data, 4), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(_read(writing, data, 4), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_TRUE(fake_line::sent().empty());

    fake_line::reset({0x03});
    EXPECT_EQ(_write(writing, "x\x02y", 3), 3);
    // write (code 2), handle 2, the data up to an ETX: each 0x02 escaped.
    EXPECT_EQ(fake_line::sent(), (Bytes{0x02, 0x10, 0x02, 0, 0, 0, 0x10, 0x02, 'x', 0x10, 0x02, 'y', 0x03}));
    fake_line::reset();
    EXPECT_EQ(_write(writing, data, 0), 0);
    EXPECT_TRUE(fake_line::sent().empty());

    fake_line::reset({0x03, 'h', 'i', 0x03});
    EXPECT_EQ(_read(reading, data, 4), 2) << "fewer at the end of the file";
    EXPECT_EQ(std::string(data, 2), "hi");
    fake_line::reset({0x03, 0x03});
    EXPECT_EQ(_read(reading, data, 4), 0) << "the end of the file";
}

TEST_F(NewlibCalls, NoHostFailsAWriteWithEio) {
    fake_line::reset(handle_reply(1));
    const int fd = _open("w", O_WRONLY | O_CREAT | O_TRUNC);
    fake_line::reset_no_host();
    errno = 0;
    EXPECT_EQ(_write(fd, "abc", 3), -1);
    EXPECT_EQ(errno, EIO);
    fake_line::reset_no_host({0x03, 'a'});
    char data[4];
    EXPECT_EQ(_read(fd, data, 4), -1) << "write-only";
}

TEST_F(NewlibCalls, LseekIsTheHostsSeekThenItsTell) {
    fake_line::reset(handle_reply(7));
    const int fd = _open("f", O_RDWR);
    fake_line::reset(RESULT_0 + Bytes{0x03, 0x00, 0x00, 0x10, 0x10, 0x00});
    EXPECT_EQ(_lseek(fd, 0x1000, SEEK_END), 0x1000);
    // seek: handle 7, offset 0x1000, origin 2 (0x10 and 0x02 escaped); then tell.
    EXPECT_EQ(fake_line::sent(),
              (Bytes{0x02, 0x0D, 0, 0, 0, 7, 0, 0, 0x10, 0x10, 0, 0, 0x10, 0x02, 0x02, 0x0C, 0, 0, 0, 7}));

    // newlib's ftell: the position alone, one request.
    fake_line::reset({0x03, 0x00, 0x00, 0x00, 0x2A});
    EXPECT_EQ(_lseek(fd, 0, SEEK_CUR), 42);
    EXPECT_EQ(requests_sent(), 1);

    fake_line::reset(RESULT_MINUS_1);
    EXPECT_EQ(_lseek(fd, -5, SEEK_SET), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(requests_sent(), 1) << "no tell after a failed seek";

    fake_line::reset();
    EXPECT_EQ(_lseek(fd, 0, 3), -1);
    EXPECT_EQ(errno, EINVAL);
    if (sizeof(long) > 4) {
        EXPECT_EQ(_lseek(fd, 0x80000000L, SEEK_SET), -1) << "beyond 2 GiB - 1";
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_TRUE(fake_line::sent().empty());
    for (int console : {0, 1, 2}) {
        EXPECT_EQ(_lseek(console, 0, SEEK_SET), -1);
        EXPECT_EQ(errno, ESPIPE);
    }
}

TEST_F(NewlibCalls, FstatAndIsattyTellTheConsoleFromFiles) {
    struct stat status;
    fake_line::reset();
    for (int console : {0, 1, 2}) {
        ASSERT_EQ(_fstat(console, &status), 0);
        EXPECT_TRUE(S_ISCHR(status.st_mode));
        EXPECT_EQ(_isatty(console), 1);
    }
    EXPECT_TRUE(fake_line::sent().empty()) << "the console asks the host nothing";
    // A host file: its type and size from the host; st_blksize 0 keeps
    // newlib to plain seeks.
    fake_line::reset(handle_reply(1) + SERVES_ALL + STATUS_FILE_16);
    const int fd = _open("f", O_RDONLY);
    ASSERT_EQ(_fstat(fd, &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_size, 16);
    EXPECT_EQ(status.st_mtime, 9);
    EXPECT_EQ(status.st_blksize, 0);
    errno = 0;
    EXPECT_EQ(_isatty(fd), 0);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(requests_sent(), 3) << "open, the version, fstat; isatty asks nothing";
    EXPECT_EQ(fake_line::unread(), 0u);

    // An older host: a file of no type, as before, and no error.
    host_forget_host();
    fake_line::reset_no_host({0x03});
    ASSERT_EQ(_fstat(fd, &status), 0);
    EXPECT_EQ(status.st_mode & S_IFMT, 0u);
    EXPECT_EQ(status.st_size, 0);
}

TEST_F(NewlibCalls, StatTellsFilesFromDirectories) {
    struct stat status;
    fake_line::reset(SERVES_ALL + STATUS_FILE_16);
    ASSERT_EQ(_stat("f", &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_size, 16);
    EXPECT_EQ(status.st_mtime, 9);
    fake_line::reset({0x03, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    ASSERT_EQ(_stat("d", &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
}

// The host's reason is the errno; ENOSYS where the host serves none of it.
TEST_F(NewlibCalls, FailuresSetErrnoFromTheHostsReason) {
    struct stat status;
    timeval now;
    const struct {
        const char* call;
        std::function<int()> run;
        Bytes reply;  // after the host's ETX
        int error;
    } cases[] = {
        {"stat", [&] { return _stat("x", &status); }, {0xFF, 0xFE}, ENOENT},
        {"stat", [&] { return _stat("x/y", &status); }, {0xFF, 0xFC}, ENOTDIR},
        {"mkdir", [] { return hostfs_testmkdir("d", 0755); }, {0xFF, 0xFD}, EEXIST},
        {"mkdir", [] { return hostfs_testmkdir("d", 0755); }, {0xFF, 0xF9}, EROFS},
        {"rmdir", [] { return hostfs_testrmdir("d"); }, {0xFF, 0xFB}, ENOTEMPTY},
        {"rmdir", [] { return hostfs_testrmdir("d"); }, {0xFF, 0xF6}, EBUSY},
        {"rmdir", [] { return hostfs_testrmdir("d"); }, {0x80, 0x00}, EIO},  // no reason known here
        {"gettimeofday", [&] { return _gettimeofday(&now, nullptr); }, {0x00}, EIO},  // cut short
    };
    for (const auto& c : cases) {
        host_forget_host();
        fake_line::reset_no_host(SERVES_ALL + Bytes{0x03} + c.reply);
        errno = 0;
        EXPECT_EQ(c.run(), -1) << c.call;
        EXPECT_EQ(errno, c.error) << c.call << " " << hex(c.reply);
    }
    errno = 0;
    fake_line::reset();
    EXPECT_EQ(_stat(std::string(80, 'n').c_str(), &status), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);

    host_forget_host();
    fake_line::reset_no_host({0x03});  // an older host: nothing after its ETX
    for (const auto& c : cases) {
        errno = 0;
        EXPECT_EQ(c.run(), -1) << c.call;
        EXPECT_EQ(errno, ENOSYS) << c.call;
    }
    tms times;
    EXPECT_EQ(_times(&times), static_cast<clock_t>(-1));
    EXPECT_EQ(errno, ENOSYS);
}

TEST_F(NewlibCalls, TheTimeIsTheHosts) {
    timeval now{};
    struct timezone zone{-1, -1};
    fake_line::reset(SERVES_ALL + Bytes{0x03, 0x65, 0x53, 0xF1, 0x00, 0x00, 0x07, 0xA1, 0x20});
    ASSERT_EQ(_gettimeofday(&now, &zone), 0);
    EXPECT_EQ(now.tv_sec, 0x6553F100);
    EXPECT_EQ(now.tv_usec, 500000);
    EXPECT_EQ(zone.tz_minuteswest, 0);
    EXPECT_EQ(zone.tz_dsttime, 0);

    // times: milliseconds of the host's clock since its first call.
    tms first, later;
    fake_line::reset({0x03, 0x00, 0x00, 0x00, 0x64, 0x00, 0x07, 0xA1, 0x20,    // 100.5 s
                      0x03, 0x00, 0x00, 0x00, 0x66, 0x00, 0x00, 0x00, 0x00});  // 102 s
    EXPECT_EQ(_times(&first), 0);
    EXPECT_EQ(_times(&later), 1500);
    EXPECT_EQ(later.tms_utime, 1500);
    EXPECT_EQ(later.tms_stime, 0);
}

TEST_F(NewlibCalls, UnlinkAndRenameAreOneRequestEach) {
    fake_line::reset(RESULT_0 + RESULT_MINUS_1);
    EXPECT_EQ(_unlink("a.txt"), 0);
    EXPECT_EQ(_unlink("a.txt"), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(fake_line::sent(), (Bytes{0x02, 0x0A, 'a', '.', 't', 'x', 't', 0x03, 0x02, 0x0A, 'a', '.', 't', 'x', 't', 0x03}));

    fake_line::reset(RESULT_0 + RESULT_MINUS_1);
    EXPECT_EQ(_rename_r(nullptr, "a", "b"), 0);
    EXPECT_EQ(_rename_r(nullptr, "a", "b"), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(fake_line::sent(), (Bytes{0x02, 0x0B, 'a', 0x03, 'b', 0x03, 0x02, 0x0B, 'a', 0x03, 'b', 0x03}));

    const std::string too_long(HOST_NAME_MAX_LENGTH + 1, 'n');
    fake_line::reset();
    EXPECT_EQ(_unlink(too_long.c_str()), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_EQ(_rename_r(nullptr, "a", too_long.c_str()), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_TRUE(fake_line::sent().empty());
}

// Terminal text: LF as CR LF, and the three framing bytes after a DLE, as
// the protocol escapes data, so the host shows them and starts no request.
TEST_F(NewlibCalls, ConsoleOutputIsEscapedText) {
    for (int fd : {1, 2}) {
        fake_line::reset();
        EXPECT_EQ(_write(fd, "a\n\x02\x03\x10z", 6), 6);
        EXPECT_EQ(fake_line::sent(), (Bytes{'a', '\r', '\n', 0x10, 0x02, 0x10, 0x03, 0x10, 0x10, 'z'}));
    }
    fake_line::reset();
    EXPECT_EQ(_write(0, "a", 1), -1) << "stdin is for reading";
    EXPECT_EQ(_close(1), 0) << "the console stays";
    EXPECT_EQ(_write(1, "b", 1), 1);
}

TEST_F(NewlibCalls, ConsoleInputIsKeysOneAtATime) {
    char key = 0;
    // Ctrl-C comes after a DLE; Enter's CR comes as LF.
    fake_line::reset({0x10, 0x03, 'x', '\r'});
    EXPECT_EQ(_read(0, &key, 8), 1);
    EXPECT_EQ(key, 0x03);
    EXPECT_EQ(_read(0, &key, 8), 1);
    EXPECT_EQ(key, 'x');
    EXPECT_EQ(_read(0, &key, 8), 1);
    EXPECT_EQ(key, '\n');
    EXPECT_EQ(_read(0, &key, 0), 0);
    EXPECT_EQ(fake_line::unread(), 0u);
    EXPECT_FALSE(fake_line::underrun());
}

TEST_F(NewlibCalls, KeysTypedDuringARequestAreReadFirst) {
    char key = 0;
    // Two keys arrive before the host's ETX of the open; one more after.
    fake_line::reset(Bytes{'o', 'k'} + handle_reply(4) + Bytes{'!'});
    ASSERT_EQ(_open("f", O_RDONLY), FIRST_FD);
    std::string typed;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(_read(0, &key, 1), 1);
        typed += key;
    }
    EXPECT_EQ(typed, "ok!");
    EXPECT_FALSE(fake_line::underrun());
}

}  // namespace
