// --events PATH: what happens, one JSON object a line, for automation:
// {"time": SECONDS, "event": KIND, ...} with KIND text, request, line,
// client or expect. PATH is a file (appended to), a FIFO, or unix:PATH,
// a socket each reader connects to (it gets the events from then on).
// Nobody waits for a reader: one that falls EVENTS_UNSENT_MAX behind loses
// events (a file, a FIFO) or is dropped (a socket), and the console says so.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "net/endpoint.h"

namespace tolvane {

struct session;
struct wait_set;

constexpr size_t EVENTS_UNSENT_MAX = size_t{1} << 20;
// A line of text longer than this is told in pieces.
constexpr size_t EVENTS_TEXT_MAX = 4096;

struct events_reader {
    endpoint* end = nullptr;
    std::string out;
    size_t out_done = 0;
    bool losing = false;  // events dropped since it last kept up (said once)
    bool gone = false;
};

struct events_state {
    std::string path;  // as given; empty: no --events
    listener* l = nullptr;
    bool file = false;  // a file or a FIFO: one reader, never dropped
    std::vector<events_reader> readers;
    std::string line;  // the board's text since its last line end
    std::string awaited;  // the --expect pattern awaited when last looked
};

// Opens PATH; false after saying why.
bool events_open(session& s, const std::string& path);
// The board's text as it came: each whole line is a text event.
void events_text(session& s, const unsigned char* bytes, size_t count);
void events_request(session& s, const std::string& call);
void events_line(session& s, const char* state);
void events_client(session& s, const char* what, unsigned id);
// Each --expect that matched since the last look; then how the run ended
// (failed: the line that matched --fail; timeout), with the pattern
// awaited.
void events_look_at_watch(session& s);
void events_run_end(session& s, const char* how, const std::string& line);
// Without waiting: takes new readers (the wait found them in set), writes
// what waits for them.
void events_move(session& s, const wait_set& set);
void events_add_waits(session& s, wait_set* set);
// The end: what is ready goes without waiting, then all is closed.
void events_close(session& s);

// One event's JSON line (for the tests): time, kind, then each field name
// and value, the values escaped.
std::string events_json(double time, const char* kind, const std::vector<std::pair<const char*, std::string>>& fields);

}  // namespace tolvane
