#include "net/share_kind.h"

#include <algorithm>

#include "net/rfc2217_server.h"

namespace tolvane {

namespace {

// unix: and tcp: clients: the bytes as they are, both ways.
class raw_codec : public share_codec {
public:
    void decode(const unsigned char* bytes, size_t count, std::string* to_board, std::string*) override {
        to_board->append(reinterpret_cast<const char*>(bytes), count);
    }
    void encode(const unsigned char* bytes, size_t count, std::string* wire) override {
        wire->append(reinterpret_cast<const char*>(bytes), count);
    }
};

// rfc2217: clients (pyserial, labgrid): telnet, and what they ask of the
// line done at once (net/rfc2217_server.h).
class rfc2217_codec : public share_codec {
public:
    explicit rfc2217_codec(const Rfc2217Port& port) { rfc2217_serve_start(server_, port); }

    void decode(const unsigned char* bytes, size_t count, std::string* to_board, std::string* reply) override {
        unsigned char data[DECODE_CHUNK];
        for (size_t done = 0; done < count;) {
            const size_t n = std::min(count - done, sizeof data);
            std::copy(bytes + done, bytes + done + n, data);
            to_board->append(reinterpret_cast<const char*>(data), rfc2217_serve_decode(server_, data, n));
            done += n;
        }
        take_answers(reply);
        if (!server_.suspended && !held_.empty()) {  // FLOWCONTROL-RESUME: what was held, after the answer
            reply->append(held_);
            held_.clear();
        }
    }

    void encode(const unsigned char* bytes, size_t count, std::string* wire) override {
        rfc2217_serve_modem(server_);  // the modem lines as the board's bytes come
        take_answers(wire);
        unsigned char out[2 * DECODE_CHUNK];
        for (size_t done = 0; done < count;) {
            size_t written = 0;
            done += rfc2217_encode(bytes + done, count - done, out, sizeof out, &written);
            if (!server_.suspended)
                wire->append(reinterpret_cast<const char*>(out), written);
            else if (held_.size() + written <= HELD_MAX)  // beyond it, dropped
                held_.append(reinterpret_cast<const char*>(out), written);
        }
    }

    void greet(std::string* wire) override { take_answers(wire); }

private:
    static constexpr size_t DECODE_CHUNK = 4096;
    // Board bytes held for a client that suspended them (FLOWCONTROL-SUSPEND).
    static constexpr size_t HELD_MAX = 64 << 10;
    Rfc2217Server server_;
    std::string held_;

    void take_answers(std::string* wire) {
        unsigned char out[TelnetCodec::OUT_MAX];
        const size_t n = rfc2217_serve_take(server_, out, sizeof out);
        wire->append(reinterpret_cast<const char*>(out), n);
    }
};

}  // namespace

std::unique_ptr<share_codec> share_codec_make(share_kind kind, const Rfc2217Port& line_port) {
    switch (kind) {
    case share_kind::raw:
        return std::make_unique<raw_codec>();
    case share_kind::rfc2217:
        return std::make_unique<rfc2217_codec>(line_port);
    }
    return nullptr;
}

}  // namespace tolvane
