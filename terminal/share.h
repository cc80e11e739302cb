// --share: other programs on the same board. tolvane keeps the line and
// serves the requests; each client that connects gets the board's text
// bytes (never a request's) from the moment it joined, as its kind's
// codec encodes them (net/share_kind.h), and what it sends goes to the
// board as typed keys do, in its turn between requests. Nobody waits for
// a client: one whose unsent bytes pass SHARE_UNSENT_MAX is dropped.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "base/wait.h"
#include "net/endpoint.h"
#include "net/share_kind.h"
#include "net/url.h"

namespace tolvane {

struct session;

// A client whose unsent bytes pass this is dropped.
constexpr size_t SHARE_UNSENT_MAX = size_t{1} << 20;
// A client's bytes for the board, waiting their turn; beyond it the
// client is not read until the board took some.
constexpr size_t SHARE_INPUT_MAX = size_t{64} << 10;
// Clients at once; one more is turned away at once.
constexpr size_t SHARE_CLIENTS_MAX = 32;

struct share_client {
    unsigned id = 0;
    endpoint* end = nullptr;
    std::unique_ptr<share_codec> codec;
    std::string out;  // for the client, out_done of it sent
    size_t out_done = 0;
    std::string in;  // for the board, in_done of it sent
    size_t in_done = 0;
    // Its first bytes may still be the control line (SHARE_CONTROL_MAGIC):
    // held in in until they tell.
    bool first_bytes = true;
    // A control connection (tolvane --lend): its lines go to control_in,
    // it gets no board bytes.
    bool control = false;
    std::string control_in;
    bool gone = false;
};

// The first bytes of a control connection; a NUL first, so that no text
// typed or piped in starts with it by chance. The lines after it are
// bounded by SHARE_CONTROL_MAX (docs/protocol.md).
constexpr char SHARE_CONTROL_MAGIC[] = "\0tolvane-control 1\n";
constexpr size_t SHARE_CONTROL_MAGIC_SIZE = sizeof SHARE_CONTROL_MAGIC - 1;
constexpr size_t SHARE_CONTROL_MAX = 1024;

struct share_place {
    listener* l = nullptr;
    share_address address;
};

struct share_state {
    std::vector<share_place> places;
    std::vector<share_client> clients;
    unsigned next_id = 1;
    size_t turn = 0;  // the client whose bytes go to the board next
    // What rfc2217: clients set the line through (the live line's, given
    // by the program: the share itself never calls the line).
    Rfc2217Port line_port;
};

// Listens at each address (unix:PATH, tcp:HOST:PORT, a kind's own);
// false after saying why.
bool share_open(session& s, const std::vector<std::string>& addresses);
// The board's text, as it came, for every client.
void share_board_bytes(session& s, const unsigned char* bytes, size_t count);
// Without waiting: takes new clients, reads what they sent, writes what
// waits for them, as far as the wait found them ready (set); clients that
// left or fell behind go.
void share_move(session& s, const wait_set& set);
// The next byte a client sent for the board, in turn (a client's bytes
// go together, then the next client's); -1: none waits.
int share_take_byte(session& s);
bool share_bytes_waiting(const session& s);
// A control connection's next whole line, without its LF; false: none yet.
bool share_control_line(share_client& c, std::string* line);
// Bytes for one client alone (a control answer).
void share_send_to(share_client& c, const std::string& bytes);
// Ctrl-Q, a run that ends: every client closed, every socket file removed.
void share_close(session& s);

// The wait's look at the share and at the --events readers of a session.
class session_party : public wait_party {
public:
    explicit session_party(session& s) : s_(s) {}
    void add_waits(wait_set* set) override;
    void after_wait(const wait_set& set) override;

private:
    session& s_;
};

}  // namespace tolvane
