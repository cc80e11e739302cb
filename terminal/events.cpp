#include "terminal/events.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "base/console.h"
#include "net/url.h"
#include "terminal/session.h"
#include "terminal/watch.h"

namespace tolvane {

namespace {

double now_seconds() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count() / 1e6;
}

void escape_into(const std::string& text, std::string* json) {
    for (unsigned char c : text) {
        switch (c) {
        case '"': *json += "\\\""; break;
        case '\\': *json += "\\\\"; break;
        case '\n': *json += "\\n"; break;
        case '\r': *json += "\\r"; break;
        case '\t': *json += "\\t"; break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                // The board's bytes are not always UTF-8: each byte above
                // ASCII is told as the code point of its Latin-1 reading.
                char code[8];
                std::snprintf(code, sizeof code, "\\u%04x", c);
                *json += code;
            } else {
                *json += static_cast<char>(c);
            }
        }
    }
}

size_t unsent(const events_reader& r) { return r.out.size() - r.out_done; }

void emit(session& s, const char* kind, const std::vector<std::pair<const char*, std::string>>& fields) {
    if (s.events.path.empty()) return;
    const std::string json = events_json(now_seconds(), kind, fields);
    for (events_reader& r : s.events.readers) {
        if (r.gone) continue;
        if (unsent(r) + json.size() <= EVENTS_UNSENT_MAX) {
            if (r.losing) {
                r.losing = false;
                console_start_line();
                console_print("events: %s reads again\n", s.events.path.c_str());
            }
            r.out += json;
            continue;
        }
        if (!s.events.file) {
            r.gone = true;
            endpoint_close(r.end);
            console_start_line();
            console_print("events: a reader of %s dropped: 1 MiB unsent\n", s.events.path.c_str());
        } else if (!r.losing) {
            r.losing = true;
            console_start_line();
            console_print("events: %s reads too slowly: events dropped\n", s.events.path.c_str());
        }
    }
}

void write_reader(events_reader& r) {
    while (!r.gone && unsent(r) > 0) {
        const long n = endpoint_write(r.end, reinterpret_cast<const unsigned char*>(r.out.data()) + r.out_done, unsent(r));
        if (n == ENDPOINT_GONE) {
            r.gone = true;
            endpoint_close(r.end);
        }
        if (n <= 0) break;
        r.out_done += static_cast<size_t>(n);
    }
    if (r.out_done == r.out.size() || r.out_done > (EVENTS_UNSENT_MAX >> 1)) {
        r.out.erase(0, r.out_done);
        r.out_done = 0;
    }
}

void text_line(session& s) {
    std::string& line = s.events.line;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    emit(s, "text", {{"text", line}});
    line.clear();
}

}  // namespace

std::string events_json(double time, const char* kind, const std::vector<std::pair<const char*, std::string>>& fields) {
    char head[96];
    std::snprintf(head, sizeof head, "{\"time\": %.6f, \"event\": \"%s\"", time, kind);
    std::string json = head;
    for (const auto& field : fields) {
        json += ", \"";
        json += field.first;
        json += "\": \"";
        escape_into(field.second, &json);
        json += '"';
    }
    json += "}\n";
    return json;
}

bool events_open(session& s, const std::string& path) {
    std::string why;
    share_address address;
    if (net_url_scheme(path) == net_scheme::unix_socket) {
        if (share_address_parse(path, &address, &why)) s.events.l = listener_open(address, &why);
        if (s.events.l == nullptr) {
            console_error("events: %s: %s\n", path.c_str(), why.c_str());
            return false;
        }
    } else {
        events_reader r;
        r.end = endpoint_open_file(path, &why);
        if (r.end == nullptr) {
            console_error("events: %s: %s\n", path.c_str(), why.c_str());
            return false;
        }
        s.events.file = true;
        s.events.readers.push_back(r);
    }
    s.events.path = path;
    s.events.awaited = watch_awaited(s.watch);
    s.files.record_calls = true;
    return true;
}

void events_text(session& s, const unsigned char* bytes, size_t count) {
    if (s.events.path.empty()) return;
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] == '\n') {
            text_line(s);
            continue;
        }
        s.events.line += static_cast<char>(bytes[i]);
        if (s.events.line.size() >= EVENTS_TEXT_MAX) text_line(s);
    }
}

void events_request(session& s, const std::string& call) { emit(s, "request", {{"call", call}}); }
void events_line(session& s, const char* state) { emit(s, "line", {{"state", state}}); }
void events_client(session& s, const char* what, unsigned id) {
    emit(s, "client", {{"client", what}, {"id", std::to_string(id)}});
}
void events_look_at_watch(session& s) {
    if (s.events.path.empty()) return;
    std::string now = watch_awaited(s.watch);
    if (now == s.events.awaited) return;
    if (!s.events.awaited.empty()) emit(s, "expect", {{"expect", "matched"}, {"pattern", s.events.awaited}});
    s.events.awaited.swap(now);
}

void events_run_end(session& s, const char* how, const std::string& line) {
    if (s.events.path.empty()) return;
    events_look_at_watch(s);
    if (std::strcmp(how, "failed") == 0)
        emit(s, "expect", {{"expect", how}, {"pattern", s.events.awaited}, {"line", line}});
    else
        emit(s, "expect", {{"expect", how}, {"pattern", s.events.awaited}});
}

void events_move(session& s, const wait_set& set) {
    if (s.events.l && listener_ready(s.events.l, set)) {
        while (endpoint* end = listener_accept(s.events.l)) {
            events_reader r;
            r.end = end;
            s.events.readers.push_back(r);
        }
    }
    for (events_reader& r : s.events.readers) write_reader(r);
    auto& readers = s.events.readers;
    readers.erase(std::remove_if(readers.begin(), readers.end(), [](const events_reader& r) { return r.gone; }),
                  readers.end());
}

void events_add_waits(session& s, wait_set* set) {
    if (s.events.l) listener_add_waits(s.events.l, set);
    for (events_reader& r : s.events.readers)
        if (!r.gone && unsent(r) > 0) endpoint_add_waits(r.end, set, false, true);
}

void events_close(session& s) {
    if (s.events.path.empty()) return;
    if (!s.events.line.empty()) text_line(s);
    for (events_reader& r : s.events.readers) {
        write_reader(r);
        if (!r.gone) endpoint_close(r.end);
    }
    s.events.readers.clear();
    listener_close(s.events.l);
    s.events.l = nullptr;
    s.events.path.clear();
}

}  // namespace tolvane
