#include "net/share_kind.h"

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

}  // namespace

std::unique_ptr<share_codec> share_codec_make(share_kind kind) {
    switch (kind) {
    case share_kind::raw:
        return std::make_unique<raw_codec>();
    case share_kind::rfc2217:
        break;
    }
    return nullptr;
}

}  // namespace tolvane
