// Serial servers for the network-line tests: a real ser2net, and socat as a
// plain relay, each on 127.0.0.1 serving a pty whose master the test holds
// as the board. Every server started here is stopped by its destructor, and
// dies with the test process if that dies first.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

// Where the program is installed, or "" when it is not.
std::string installed(const std::string& program);

// A TCP port on 127.0.0.1 that nothing listens on right now.
int free_port();
// True once something listens on 127.0.0.1:port.
bool listening(int port, int timeout_ms);

struct Server {
    pid_t pid = -1;
    std::string log;  // its standard output and error
    virtual ~Server();  // held as a Server by whoever starts either kind
};
void stop(Server& server);

// ser2net with two ports for one device: telnet(rfc2217) and raw tcp.
struct Ser2net : Server {
    // Options for both connections, as "name: value" lines; set before
    // starting (ser2net's default chardelay holds data a millisecond or more).
    std::string options;
    std::string config;
    std::string device;
    int rfc2217_port = 0;
    int tcp_port = 0;
    std::string rfc2217_url() const;
    std::string tcp_url() const;
};
// Writes the YAML configuration into dir and starts ser2net; "" once it
// listens, else why not.
std::string start_ser2net(Ser2net& server, const std::string& device, const std::string& dir);
// Starts it again on the same ports (after stop).
std::string restart_ser2net(Ser2net& server);

// socat relaying one TCP connection to the device, raw; it ends with it.
struct Socat : Server {
    int port = 0;
    std::string url() const;
};
std::string start_socat(Socat& server, const std::string& device, const std::string& dir);

// A board's line served one of three ways, for tests that run over each.
enum class ServedBy { rfc2217, ser2net_tcp, socat_tcp };
std::string served_name(ServedBy kind);

// The servers of one board's line; they stop with it.
struct Lab {
    Ser2net ser2net;
    Socat socat;
    std::string url;  // where the program connects
    std::string dir;  // the test's scratch directory
};

// Serves device as kind; "" once the server listens, else why not.
std::string serve(Lab& lab, ServedBy kind, const std::string& device, const std::string& dir);

// An RFC 2217 server of the test's own that records what the client sends:
// it takes the COM-PORT-OPTION, answers each COM-PORT command with the
// value asked (as a server that takes everything), and keeps every byte
// received, commands and data. One connection, served by a thread until
// the client closes it.
struct Rfc2217Recorder {
    int listener = -1;
    int port = 0;
    std::thread thread;
    std::mutex mutex;
    std::vector<uint8_t> received;
    ~Rfc2217Recorder();
    std::string url() const;
    std::vector<uint8_t> so_far();  // what came so far
};
// Listens on 127.0.0.1; "" once it does, else why not.
std::string start_rfc2217_recorder(Rfc2217Recorder& recorder);
// The COM-PORT command as a client sends it: IAC SB 44 command value IAC SE.
std::vector<uint8_t> com_port_request(uint8_t command, uint8_t value);

// In a test: skipped when the server is not installed, failed when it
// cannot start.
#define ASSERT_SERVED(why_not)                                  \
    do {                                                        \
        const std::string why_ = (why_not);                     \
        if (why_.find("not installed") != std::string::npos)    \
            GTEST_SKIP() << why_;                               \
        ASSERT_EQ(why_, "");                                    \
    } while (0)

}  // namespace e2e
