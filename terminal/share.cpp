#include "terminal/share.h"

#include <algorithm>
#include <cstring>

#include "base/console.h"
#include "terminal/events.h"
#include "terminal/session.h"

namespace tolvane {

namespace {

// What one read takes from a client at most.
constexpr size_t READ_CHUNK = 16 << 10;

void say(const char* format, const share_client& c, const char* more = "") {
    console_start_line();
    console_print(format, c.id, more);
}

void drop(session& s, share_client& c, const char* how) {
    if (c.gone) return;
    c.gone = true;
    endpoint_close(c.end);
    c.end = nullptr;
    if (std::strcmp(how, "dropped") == 0)
        say("client %u dropped: %s unsent\n", c, "1 MiB");
    else
        say("client %u left%s\n", c);
    events_client(s, how, c.id);
}

size_t unsent(const share_client& c) { return c.out.size() - c.out_done; }

void queue_out(share_client& c, const std::string& bytes) {
    if (c.out_done > 0 && c.out_done == c.out.size()) {
        c.out.clear();
        c.out_done = 0;
    }
    c.out += bytes;
}

// The client's first bytes: the control line, or data like any other.
void take_first_bytes(share_client& c) {
    const size_t n = std::min(c.in.size(), SHARE_CONTROL_MAGIC_SIZE);
    if (c.in.compare(0, n, SHARE_CONTROL_MAGIC, n) != 0) {
        c.first_bytes = false;  // data: it goes to the board as it came
        return;
    }
    if (n < SHARE_CONTROL_MAGIC_SIZE) return;  // too soon to tell
    c.first_bytes = false;
    c.control = true;
    c.control_in = c.in.substr(SHARE_CONTROL_MAGIC_SIZE);
    c.in.clear();
}

void receive(session& s, share_client& c, const unsigned char* bytes, size_t count) {
    if (c.control) {
        c.control_in.append(reinterpret_cast<const char*>(bytes), count);
        if (c.control_in.size() > SHARE_CONTROL_MAX) drop(s, c, "left");
        return;
    }
    std::string reply;
    if (c.first_bytes) {
        c.in.append(reinterpret_cast<const char*>(bytes), count);
        take_first_bytes(c);
        if (c.first_bytes || c.control) return;
        // The held bytes are decoded now, as if they had just come.
        std::string held;
        held.swap(c.in);
        c.in_done = 0;
        c.codec->decode(reinterpret_cast<const unsigned char*>(held.data()), held.size(), &c.in, &reply);
    } else {
        c.codec->decode(bytes, count, &c.in, &reply);
    }
    if (!reply.empty()) queue_out(c, reply);
}

void read_client(session& s, share_client& c) {
    const size_t waiting = c.in.size() - c.in_done;
    const size_t room = c.control ? SHARE_CONTROL_MAX : SHARE_INPUT_MAX - std::min(waiting, SHARE_INPUT_MAX);
    if (room == 0 || c.gone) return;
    unsigned char buffer[READ_CHUNK];
    const long n = endpoint_read(c.end, buffer, std::min(room, sizeof buffer));
    if (n == ENDPOINT_GONE) {
        drop(s, c, "left");
    } else if (n > 0) {
        c.in.erase(0, c.in_done);  // what the board took goes, so in stays bounded
        c.in_done = 0;
        receive(s, c, buffer, static_cast<size_t>(n));
    }
}

void write_client(session& s, share_client& c) {
    while (!c.gone && unsent(c) > 0) {
        const long n = endpoint_write(c.end, reinterpret_cast<const unsigned char*>(c.out.data()) + c.out_done, unsent(c));
        if (n == ENDPOINT_GONE) drop(s, c, "left");
        if (n <= 0) break;
        c.out_done += static_cast<size_t>(n);
    }
    if (unsent(c) == 0) {
        c.out.clear();
        c.out_done = 0;
    } else if (c.out_done > (SHARE_UNSENT_MAX >> 1)) {
        c.out.erase(0, c.out_done);  // the buffer never grows past twice the bound
        c.out_done = 0;
    }
}

void accept_clients(session& s, share_place& place) {
    while (endpoint* end = listener_accept(place.l)) {
        if (s.share.clients.size() >= SHARE_CLIENTS_MAX) {
            endpoint_close(end);
            console_start_line();
            console_print("share: a client turned away: %u already\n", static_cast<unsigned>(SHARE_CLIENTS_MAX));
            continue;
        }
        share_client c;
        c.id = s.share.next_id++;
        c.end = end;
        c.codec = share_codec_make(place.address.kind, s.share.line_port);
        std::string greeting;
        c.codec->greet(&greeting);
        c.out = greeting;
        say("client %u joined (%s)\n", c, place.address.text.c_str());
        events_client(s, "joined", c.id);
        s.share.clients.push_back(std::move(c));
    }
}

void forget_gone(session& s) {
    auto& clients = s.share.clients;
    const size_t before = clients.size();
    clients.erase(std::remove_if(clients.begin(), clients.end(), [](const share_client& c) { return c.gone; }),
                  clients.end());
    if (clients.size() != before) s.share.turn = 0;
}

}  // namespace

bool share_open(session& s, const std::vector<std::string>& addresses) {
    for (const std::string& text : addresses) {
        share_place place;
        std::string why;
        if (!share_address_parse(text, &place.address, &why) ||
            (share_codec_make(place.address.kind) == nullptr && !(why = "not in this build").empty()) ||
            (place.l = listener_open(place.address, &why)) == nullptr) {
            console_error("share: %s: %s\n", text.c_str(), why.c_str());
            share_close(s);
            return false;
        }
        s.share.places.push_back(std::move(place));
    }
    return true;
}

void share_board_bytes(session& s, const unsigned char* bytes, size_t count) {
    for (share_client& c : s.share.clients) {
        if (c.gone || c.control) continue;
        if (c.out_done > 0 && c.out_done == c.out.size()) {
            c.out.clear();
            c.out_done = 0;
        }
        c.codec->encode(bytes, count, &c.out);
        if (unsent(c) > SHARE_UNSENT_MAX) drop(s, c, "dropped");
    }
}

void share_move(session& s, const wait_set& set) {
    for (share_place& place : s.share.places)
        if (listener_ready(place.l, set)) accept_clients(s, place);
    for (share_client& c : s.share.clients) {
        if (c.gone || !endpoint_ready(c.end, set)) continue;
        // A socket that can only take more is not read: the read would
        // find nothing, once for every piece of the board's text.
        if (endpoint_readable(c.end, set)) read_client(s, c);
        write_client(s, c);
    }
    forget_gone(s);
}

bool share_bytes_waiting(const session& s) {
    for (const share_client& c : s.share.clients)
        if (!c.gone && !c.control && !c.first_bytes && c.in_done < c.in.size()) return true;
    return false;
}

int share_take_byte(session& s) {
    auto& clients = s.share.clients;
    for (size_t looked = 0; looked < clients.size(); ++looked) {
        if (s.share.turn >= clients.size()) s.share.turn = 0;
        share_client& c = clients[s.share.turn];
        if (!c.gone && !c.control && !c.first_bytes && c.in_done < c.in.size())
            return static_cast<unsigned char>(c.in[c.in_done++]);
        ++s.share.turn;  // this one has sent all it had: the next one's turn
    }
    return -1;
}

bool share_control_line(share_client& c, std::string* line) {
    const size_t end = c.control_in.find('\n');
    if (end == std::string::npos) return false;
    *line = c.control_in.substr(0, end);
    c.control_in.erase(0, end + 1);
    return true;
}

void share_send_to(share_client& c, const std::string& bytes) {
    if (!c.gone) queue_out(c, bytes);
}

void share_close(session& s) {
    for (share_client& c : s.share.clients) {
        if (c.gone) continue;
        write_client(s, c);  // what is ready to go, without waiting
        endpoint_close(c.end);
        c.gone = true;
    }
    s.share.clients.clear();
    for (share_place& place : s.share.places) listener_close(place.l);
    s.share.places.clear();
}

void session_party::add_waits(wait_set* set) {
    for (share_place& place : s_.share.places) listener_add_waits(place.l, set);
    for (share_client& c : s_.share.clients) {
        if (c.gone) continue;
        const bool room = c.control || c.in.size() - c.in_done < SHARE_INPUT_MAX;
        endpoint_add_waits(c.end, set, room, unsent(c) > 0);
    }
    events_add_waits(s_, set);
}

void session_party::after_wait(const wait_set& set) {
    share_move(s_, set);
    events_move(s_, set);
}

}  // namespace tolvane
