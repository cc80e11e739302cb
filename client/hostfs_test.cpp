#include "client/hostfs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/fake_line.h"

using fake_line::Bytes;

extern "C" long c_save_and_find(const char* name, const char* text);

namespace {

std::string strays;
void keep_stray(int byte) { strays += static_cast<char>(byte); }

struct Call {
    const char* name;
    std::function<bool()> fails;  // runs the call, true on its failure value
};

std::vector<Call> every_call() {
    static char line[16];
    static char data[4] = {1, 2, 3, 4};
    static host_find_record record;
    static host_status status;
    static uint32_t seconds, microseconds;
    return {
        {"fopen", [] { return host_fopen("a", "r") == 0; }},
        {"fread", [] { return host_fread(data, 4, 7) == 0; }},
        {"fwrite", [] { return host_fwrite(data, 4, 7) == 0; }},
        {"fclose", [] { return host_fclose(7) == -1; }},
        {"fgetc", [] { return host_fgetc(7) == -1; }},
        {"fputc", [] { return host_fputc('x', 7) == -1; }},
        {"fgets", [] { return host_fgets(line, sizeof line, 7) == nullptr; }},
        {"fputs", [] { return host_fputs("text", 7) == -1; }},
        {"findfirst", [] { return host_findfirst("*", 0, &record) != 0; }},
        {"findnext", [] { return host_findnext(&record) != 0; }},
        {"remove", [] { return host_remove("a") == -1; }},
        {"rename", [] { return host_rename("a", "b") == -1; }},
        {"ftell", [] { return host_ftell(7) == -1; }},
        {"fseek", [] { return host_fseek(7, 0, 0) == -1; }},
        {"ungetc", [] { return host_ungetc('x', 7) == -1; }},
        {"stat", [] { return host_stat("a", &status) == HOST_EIO; }},
        {"fstat", [] { return host_fstat(7, &status) == HOST_EIO; }},
        {"mkdir", [] { return host_mkdir("d") == HOST_EIO; }},
        {"rmdir", [] { return host_rmdir("d") == HOST_EIO; }},
        {"time", [] { return host_time(&seconds, &microseconds) == HOST_EIO; }},
        {"exit", [] { return host_exit(3) == HOST_EIO; }},
    };
}

}  // namespace

// -1 from link_get_raw means "no host": the call ends at once, sends
// nothing after its STX and asks the line no more.
TEST(ClientNoHost, EveryCallSendsOnlyItsStxAndFails) {
    for (const Call& call : every_call()) {
        host_forget_host();
        fake_line::reset_no_host();
        EXPECT_TRUE(call.fails()) << call.name;
        EXPECT_EQ(fake_line::sent(), Bytes{0x02}) << call.name;
        EXPECT_EQ(fake_line::reads_past_end(), 1) << call.name;
    }
}

TEST(ClientNoHost, KeysTypedBeforeTheSilenceStillReachTheHandler) {
    strays.clear();
    host_set_stray_byte_handler(keep_stray);
    fake_line::reset_no_host({'o', 'k'});
    EXPECT_EQ(host_remove("a"), -1);
    host_set_stray_byte_handler(nullptr);
    EXPECT_EQ(strays, "ok");
    EXPECT_EQ(fake_line::sent(), Bytes{0x02});
}

TEST(ClientNoHost, SilenceInsideAReplyEndsTheCallWithItsFailureValue) {
    fake_line::reset_no_host({0x03, 0x00});  // half a result
    EXPECT_EQ(host_fclose(7), -1);
    EXPECT_EQ(fake_line::reads_past_end(), 1);

    fake_line::reset_no_host({0x03, 0x00, 0x00, 0x01});  // three bytes of a handle
    EXPECT_EQ(host_fopen("a", "r"), 0u);

    fake_line::reset_no_host({0x03, 0x00, 0x00});
    EXPECT_EQ(host_ftell(7), -1);

    char line[8];
    fake_line::reset_no_host({0x03, 0x00, 0x01, 'a', 'b'});  // a line without its ETX
    EXPECT_EQ(host_fgets(line, sizeof line, 7), nullptr);
    EXPECT_EQ(fake_line::reads_past_end(), 1);

    host_find_record record;
    std::memset(&record, 0x5A, sizeof record);
    const host_find_record before = record;
    fake_line::reset_no_host({0x03, 0x00, 0x00, 0x00, 0x20, 0x11, 0x22});  // a record cut short
    EXPECT_NE(host_findfirst("*", 0, &record), 0);
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0) << "record left as it was";
    EXPECT_EQ(fake_line::reads_past_end(), 1);

    unsigned char data[10] = {};
    fake_line::reset_no_host({0x03, 'x', 'y', 'z'});
    EXPECT_EQ(host_fread(data, 10, 7), 3) << "fread returns the count it had";
    EXPECT_EQ(fake_line::reads_past_end(), 1);

    // The first part of a long text is answered, the second is not: no
    // third request goes out.
    fake_line::reset_no_host({0x03, 0x00, 0x01});
    EXPECT_EQ(host_fputs(std::string(100, 't').c_str(), 7), -1);
    EXPECT_EQ(fake_line::sent().back(), 0x02);
    EXPECT_EQ(fake_line::reads_past_end(), 1);
}

TEST(ClientNoHost, TheNextCallStartsAfresh) {
    fake_line::reset_no_host();
    EXPECT_EQ(host_fclose(7), -1);
    fake_line::reset({0x03, 0x00, 0x00});
    EXPECT_EQ(host_fclose(7), 0);
    EXPECT_FALSE(fake_line::underrun());
}

// Whatever the host answers, the library writes only inside the caller's
// buffers and reads the reply to its end.
// A line longer than the buffer asked for is no line: the call fails, and
// the reply is read to its ETX, so the next call starts in step.
TEST(ClientUntrustedHost, OverlongLineFailsAndIsReadToItsEtx) {
    Bytes reply = {0x03, 0x00, 0x01};
    for (char c = 'a'; c <= 'j'; ++c) reply.push_back(static_cast<uint8_t>(c));
    reply.push_back(0x03);
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    fake_line::reset(reply);
    EXPECT_EQ(host_fgets(buffer, 4, 7), nullptr);
    EXPECT_EQ(std::string(buffer + 3, 5), "#####") << "nothing beyond the buffer's size";
    EXPECT_EQ(fake_line::unread(), 0u);
    EXPECT_FALSE(fake_line::underrun());

    fake_line::reset({0x03, 0x00, 0x01, 'z', 0x03});
    EXPECT_EQ(host_fgets(buffer, 1, 7), nullptr);
    fake_line::reset({0x03, 0x00, 0x01, 'a', 'b', 'c', 0x03});
    ASSERT_EQ(host_fgets(buffer, 4, 7), buffer);
    EXPECT_STREQ(buffer, "abc");
}

TEST(ClientUntrustedHost, RecordNameWithoutNulIsEndedInside) {
    // attributes 0x0010 (its 0x10 escaped), time, date, size 0x00A1B2C4,
    // then 14 name bytes and no NUL among them.
    Bytes reply = {0x03, 0x00, 0x00, 0x00, 0x10, 0x10, 0x12, 0x34, 0x56, 0x78, 0x00, 0xA1, 0xB2, 0xC4};
    for (int i = 0; i < 14; ++i) reply.push_back('N');
    host_find_record record;
    fake_line::reset(reply);
    ASSERT_EQ(host_findfirst("*", 0x10, &record), 0);
    EXPECT_EQ(record.attributes, 0x0010);
    EXPECT_EQ(record.time, 0x1234);
    EXPECT_EQ(record.date, 0x5678);
    EXPECT_EQ(record.size, 0x00A1B2C4u);
    EXPECT_EQ(std::string(record.name), std::string(13, 'N'));
    EXPECT_EQ(fake_line::unread(), 0u);
}

TEST(ClientUntrustedHost, ReadTakesNoMoreThanAsked) {
    unsigned char data[8];
    std::memset(data, 0xEE, sizeof data);
    fake_line::reset({0x03, 1, 4, 5, 6, 7, 8});
    EXPECT_EQ(host_fread(data, 4, 7), 4);
    EXPECT_EQ(data[4], 0xEE);
    EXPECT_EQ(fake_line::unread(), 2u);
}

TEST(ClientUntrustedHost, NumbersTakeAStrayStxAsItsByteAndStopAtEtx) {
    fake_line::reset({0x03, 0x00, 0x02});
    EXPECT_EQ(host_fclose(7), 0x0002);
    fake_line::reset({0x03, 0x00, 0x02, 0x02, 0x00});
    EXPECT_EQ(host_fopen("a", "r"), 0x00020200u);
    // An ETX cuts a handle short: the missing bytes are zero.
    fake_line::reset({0x03, 0xAB, 0x03});
    EXPECT_EQ(host_fopen("a", "r"), 0xAB000000u);
    EXPECT_FALSE(fake_line::underrun());
}

// The header and the functions as firmware written in C sees them: the C
// side (hostfs_c_test.c) compiles as C99 and links with the C++ library.
TEST(ClientFromC, SaveAndFindThroughTheCInterface) {
    fake_line::reset({
        0x03, 0x00, 0x00, 0x00, 0x2A,  // fopen: handle 42
        0x03, 0x00, 0x01,              // fputs: 1
        0x03, 0x00, 0x00,              // fclose: 0
        0x03, 0x00, 0x00,              // findfirst: found
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00,  // size 256
        'n', '.', 't', 'x', 't', 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(c_save_and_find("n.txt", "hi"), 256);
    const Bytes open_request = {0x02, 0x00, 'n', '.', 't', 'x', 't', 0x03, 'w', 0x03};
    const Bytes& sent = fake_line::sent();
    ASSERT_GE(sent.size(), open_request.size());
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + open_request.size()), open_request);
    EXPECT_EQ(fake_line::unread(), 0u);
    EXPECT_FALSE(fake_line::underrun());
}

// The requests beyond the table. The first call asks the host what it
// serves (code 15, no fields): version 1 and a bit per code.
namespace {

const Bytes VERSION_REQUEST = {0x02, 0x0F};
const Bytes SERVES_ALL = {0x03, 0x00, 0x01, 0x00, 0x3F, 0xFF, 0xFF};  // codes 0..21

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Starts each test as a firmware does: nothing known of the host.
class ClientBeyond : public ::testing::Test {
protected:
    void SetUp() override { host_forget_host(); }
    void TearDown() override { host_forget_host(); }
};

}  // namespace

TEST_F(ClientBeyond, EachCallSendsItsFieldsAndReadsItsReply) {
    host_status status{};
    uint32_t seconds = 0, microseconds = 0;
    const struct {
        const char* name;
        std::function<int()> call;
        Bytes reply;     // after the host's ETX
        Bytes request;   // after the STX
        int result;
    } cases[] = {
        // Code 16 travels as DLE 0x10; the size 0x10 too.
        {"stat", [&] { return host_stat("a.txt", &status); },
         {0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0x10, 0x65, 0x53, 0xF1, 0x00},
         {0x10, 0x10, 'a', '.', 't', 'x', 't', 0x03}, 0},
        {"fstat", [&] { return host_fstat(0x0102, &status); },
         {0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x10, 0x10, 0x00, 0x00, 0x00, 0x00, 0x01},
         {0x11, 0x00, 0x00, 0x01, 0x10, 0x02}, 0},
        {"mkdir", [] { return host_mkdir("d"); }, {0xFF, 0xFD}, {0x12, 'd', 0x03}, HOST_EEXIST},
        {"rmdir", [] { return host_rmdir("d"); }, {0xFF, 0xFB}, {0x13, 'd', 0x03}, HOST_ENOTEMPTY},
        {"time", [&] { return host_time(&seconds, &microseconds); },
         {0x65, 0x53, 0xF1, 0x00, 0x00, 0x0F, 0x42, 0x3F}, {0x14}, 0},
        // No reply: the call is done once the status is sent.
        {"exit", [] { return host_exit(-2); }, {}, {0x15, 0xFF, 0xFF, 0xFF, 0xFE}, 0},
    };
    for (const auto& c : cases) {
        host_forget_host();
        fake_line::reset(SERVES_ALL + Bytes{0x03} + c.reply);
        EXPECT_EQ(c.call(), c.result) << c.name;
        EXPECT_EQ(fake_line::sent(), VERSION_REQUEST + Bytes{0x02} + c.request) << c.name;
        EXPECT_EQ(fake_line::unread(), 0u) << c.name;
        EXPECT_FALSE(fake_line::underrun()) << c.name;
    }
    // The last stat and fstat, and the time.
    EXPECT_EQ(status.kind, HOST_KIND_DIRECTORY);
    EXPECT_EQ(status.size, 0x1000u);
    EXPECT_EQ(status.modified, 1u);
    EXPECT_EQ(seconds, 0x6553F100u);
    EXPECT_EQ(microseconds, 999999u);

    host_forget_host();
    fake_line::reset(SERVES_ALL + Bytes{0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0x10, 0, 0, 0, 9});
    ASSERT_EQ(host_stat("a.txt", &status), 0);
    EXPECT_EQ(status.kind, HOST_KIND_FILE);
    EXPECT_EQ(status.size, 16u);
    EXPECT_EQ(status.modified, 9u);
}

TEST_F(ClientBeyond, TheHostIsAskedOnceWhatItServes) {
    host_status status{};
    fake_line::reset(SERVES_ALL + Bytes{0x03, 0x00, 0x00} + Bytes{0x03, 0xFF, 0xFE});
    EXPECT_EQ(host_mkdir("d"), 0);
    EXPECT_EQ(host_stat("d", &status), HOST_ENOENT);
    const Bytes requests = {0x02, 0x12, 'd', 0x03, 0x02, 0x10, 0x10, 'd', 0x03};
    EXPECT_EQ(fake_line::sent(), VERSION_REQUEST + requests);
    EXPECT_EQ(fake_line::unread(), 0u);
}

// An older host prints its unknown-code message and answers nothing after
// its ETX: once the line gives -1 the calls fail with HOST_ENOSYS, and ask
// no more, until the host is forgotten.
TEST_F(ClientBeyond, AHostWithoutThemFailsEveryCallWithEnosysWithoutAskingAgain) {
    host_status status{};
    uint32_t seconds = 0, microseconds = 0;
    fake_line::reset_no_host({0x03});
    EXPECT_EQ(host_stat("a", &status), HOST_ENOSYS);
    EXPECT_EQ(fake_line::sent(), VERSION_REQUEST);
    fake_line::reset_no_host();
    EXPECT_EQ(host_fstat(1, &status), HOST_ENOSYS);
    EXPECT_EQ(host_mkdir("d"), HOST_ENOSYS);
    EXPECT_EQ(host_rmdir("d"), HOST_ENOSYS);
    EXPECT_EQ(host_time(&seconds, &microseconds), HOST_ENOSYS);
    EXPECT_EQ(host_exit(0), HOST_ENOSYS);
    EXPECT_TRUE(fake_line::sent().empty()) << "nothing more goes out";
    EXPECT_EQ(fake_line::reads_past_end(), 0);

    // The calls of the table still go to that host.
    fake_line::reset({0x03, 0x00, 0x00});
    EXPECT_EQ(host_fclose(7), 0);

    // A host that serves only some of them.
    host_forget_host();
    fake_line::reset({0x03, 0x00, 0x01, 0x00, 0x10, 0x10, 0x7F, 0xFF, 0x03, 0x00, 0x00});  // codes 0..14 and 20
    EXPECT_EQ(host_mkdir("d"), HOST_ENOSYS);
    EXPECT_EQ(host_time(&seconds, &microseconds), 0);
    EXPECT_EQ(seconds, 0u) << "an ETX cut the seconds short: the rest are zeros";
}

// Whatever the host answers, a call reports success only for a whole
// reply with result 0, and leaves the status as it was otherwise.
TEST_F(ClientBeyond, AFaultyReplyIsNoSuccess) {
    host_status status{};
    status.size = 77;
    uint32_t seconds = 5, microseconds = 6;
    fake_line::reset(SERVES_ALL + Bytes{0x03, 0x00, 0x07});
    EXPECT_EQ(host_mkdir("d"), HOST_EIO) << "a positive result";
    fake_line::reset_no_host({0x03, 0x00, 0x00, 0x00, 0x01, 0x00});
    EXPECT_EQ(host_stat("a", &status), HOST_EIO) << "a status cut short";
    EXPECT_EQ(status.size, 77u);
    fake_line::reset_no_host({0x03, 0x00, 0x00, 0x00});
    EXPECT_EQ(host_time(&seconds, &microseconds), HOST_EIO);
    EXPECT_EQ(seconds, 5u);
    EXPECT_EQ(microseconds, 6u);
}

TEST_F(ClientBeyond, NamesTooLongAreRefusedBeforeAnythingIsSent) {
    host_status status{};
    const std::string too_long(HOST_NAME_MAX_LENGTH + 1, 'n');
    fake_line::reset();
    EXPECT_EQ(host_stat(too_long.c_str(), &status), HOST_ENAMETOOLONG);
    EXPECT_EQ(host_mkdir(too_long.c_str()), HOST_ENAMETOOLONG);
    EXPECT_EQ(host_rmdir(too_long.c_str()), HOST_ENAMETOOLONG);
    EXPECT_TRUE(fake_line::sent().empty());
}
