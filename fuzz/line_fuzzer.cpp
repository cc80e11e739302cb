// The host's whole line path: every byte the target sends is pushed through
// the terminal's frame demultiplexer, and each STX is served by the file
// service, which really opens, writes, renames and removes files beneath a
// scratch root (fuzz/scratch.h) made afresh for every input.
//
// An input is one byte of switches, then what the target sends:
//   bit 0: the trace (-r)   bit 1: read-only (-p)
//   bit 2: names resolved by the component walk rather than by openat2
//   bit 3: events: the rest is a list of events (below), and the terminal
//          loop's part that is the same on every platform runs as well
//   bit 4: a telnet line: the data blocks going out double 0xFF
//   bit 5: the bytes are handed over one at a time, not as one piece
// After its last byte the line falls silent: a request cut short is then
// shown as the text it was.
//
// An event is a tag byte and a length byte n, then (for the first two) n
// bytes; tag % 4 says what happens:
//   0: the target sends n bytes
//   1: n keys are typed (Ctrl-Q among them ends the run as it ends tolvane,
//      Ctrl-T and a key is a command)
//   2: the line takes no output for its next n + 1 tries
//   3: the line goes away and comes back (-w): the request in progress is
//      given up
// Keys wait while a request or a read's data is in progress, as in the
// program's loop.
#include <setjmp.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/block_codec.h"
#include "base/keys.h"
#include "base/line.h"
#include "base/settings.h"
#include "fileservice/confine-posix.h"
#include "fileservice/confine.h"
#include "fileservice/find.h"
#include "fileservice/handles.h"
#include "fileservice/rpc.h"
#include "fuzz/scratch.h"
#include "link/link.h"
#include "terminal/demux.h"
#include "terminal/rules.h"
#include "terminal/session.h"

namespace {

// Limits of this harness, not of the program. Positions past POSITION_MAX
// are refused, so a file holds at most that and what one input writes, and
// a read request of two billion bytes ends soon. Only a host that writes
// far more than the target sent can then reach FILE_SIZE_MAX, and libFuzzer
// reports the signal that follows as a crash.
constexpr long POSITION_MAX = 64 * 1024;
constexpr rlim_t FILE_SIZE_MAX = 1024 * 1024;
// The fake line's output queue: small and odd, so that blocks fill it
// many times and escapes fall on its ends.
constexpr size_t QUEUE_SIZE = 61;

const uint8_t* line = nullptr;
size_t line_size = 0;
size_t line_next = 0;

// Event mode: line_next walks the events; line_left bytes of the current
// "target sends" event are still to be read.
bool events = false;
size_t line_left = 0;
int refusing = 0;         // tries the line still takes no output
bool line_away = false;   // away until the loop has waited for it (-w)
bool doubles_ff = false;   // bit 4
bool one_at_a_time = false;  // bit 5
size_t queued = 0;        // bytes in the fake output queue
jmp_buf quit_jump;

std::string root_path;
tolvane::session terminal;

[[noreturn]] void fault(const char* what) {
    std::fprintf(stderr, "line fuzzer: %s\n", what);
    std::abort();
}

// The number the next descriptor would get: one held open moves it.
int lowest_free_descriptor() {
    const int fd = dup(STDERR_FILENO);
    if (fd >= 0) close(fd);
    return fd;
}

}  // namespace

// The fuzz build links every fseek of the program here (-Wl,--wrap=fseek).
extern "C" int __real_fseek(FILE* stream, long offset, int origin);
extern "C" int __wrap_fseek(FILE* stream, long offset, int origin) {
    const long before = std::ftell(stream);
    const int result = __real_fseek(stream, offset, origin);
    if (result != 0 || std::ftell(stream) <= POSITION_MAX) return result;
    __real_fseek(stream, before < 0 ? 0 : before, SEEK_SET);
    errno = EINVAL;
    return -1;
}

namespace {

// What a wait sees next: keys, a line that refuses or goes away, or more
// bytes from the target. False when the input is over.
bool next_event() {
    if (line_next + 2 > line_size) {
        line_next = line_size;
        return false;
    }
    const int tag = line[line_next] % 4;
    size_t n = line[line_next + 1];
    line_next += 2;
    if (tag <= 1 && n > line_size - line_next) n = line_size - line_next;
    switch (tag) {
    case 0:
        line_left = n;
        break;
    case 1:
        tolvane::keys_add(terminal.keys, line + line_next, n);
        line_next += n;
        break;
    case 2:
        refusing = static_cast<int>(n) + 1;
        break;
    default:
        line_away = true;
        break;
    }
    return true;
}

// One try of the line: it takes what is queued, unless it refuses.
void line_takes() {
    if (refusing > 0)
        --refusing;
    else
        queued = 0;
}

// A read's data goes out as the line takes it.
void reply_goes_out() {
    line_takes();
    tolvane::rpc_reply_more(terminal.files);
}

// Hands the target's bytes to the demultiplexer as the terminal does, in
// one piece or a byte at a time; a request's STX waits for a read's data
// to leave. Returns the bytes taken.
size_t push(const uint8_t* bytes, size_t count) {
    using namespace tolvane;
    size_t used = 0;
    while (used < count) {
        const size_t piece = one_at_a_time ? 1 : count - used;
        const size_t took = demux_feed(terminal, bytes + used, piece);
        used += took;
        if (took > 0) continue;
        if (!rpc_replying(terminal.files)) fault("the demultiplexer took nothing with no read in progress");
        if (events) break;  // the loop turns to the line's output
        reply_goes_out();
    }
    return used;
}

// The terminal loop's shared part over the events, as both programs run it.
void run_loop() {
    using namespace tolvane;
    if (setjmp(quit_jump) != 0) return;  // Ctrl-Q ended the run
    for (;;) {
        if (quit_requested()) term_quit(terminal);
        if (line_away) {  // the loop waited for the line; keys for the old one go
            demux_reset(terminal);
            keys_clear(terminal.keys);
            line_away = false;
        }
        if (!demux_busy(terminal)) term_send_keys(terminal);
        if (rpc_replying(terminal.files)) reply_goes_out();
        if (line_left > 0) {
            const size_t used = push(line + line_next, line_left);
            line_next += used;
            line_left -= used;
        } else if (!next_event()) {
            return;
        }
    }
}

// A queue full of escaped data must decode to the bytes it took: 0xFF
// pairs made one where the line doubles it, then the link's DLE pairs.
void check_escaped(const unsigned char* data, size_t count, const unsigned char* queue, size_t size) {
    unsigned char wire[QUEUE_SIZE];
    size_t n = 0;
    for (size_t i = 0; i < size; ++i) {
        wire[n++] = queue[i];
        if (doubles_ff && queue[i] == 0xFF && (++i == size || queue[i] != 0xFF)) fault("0xFF went out alone");
    }
    tolvane::block_decoder decoder;
    unsigned char back[QUEUE_SIZE];
    size_t stored = 0;
    if (tolvane::block_decode(&decoder, wire, n, back, sizeof back, &stored) != n || decoder.after_dle ||
        decoder.ended || stored != count || std::memcmp(back, data, count) != 0)
        fault("an escaped block decodes to other bytes");
}

}  // namespace

namespace tolvane {

void line_put_raw(line_state&, int) { ++queued; }

// Blocks escaped by the program's own codec, checked a small queue at a
// time, so that escapes fall on its ends.
void line_put_data(line_state&, const unsigned char* bytes, size_t count) {
    unsigned char queue[QUEUE_SIZE];
    size_t taken = 0;
    while (taken < count) {
        size_t written = 0;
        const size_t n = block_escape(bytes + taken, count - taken, doubles_ff ? 0xFF : NO_DOUBLED_BYTE, queue,
                                      sizeof queue, &written);
        check_escaped(bytes + taken, n, queue, written);
        taken += n;
        queued += written;
    }
}

size_t line_pending(const line_state&) { return queued; }

size_t line_room(const line_state&) { return refusing > 0 ? 0 : 1u << 20; }


bool line_wait_room(line_state&, int) {
    if (refusing == 0) return true;
    --refusing;
    return false;
}

void line_take_last_output(line_state&) {}

// Output goes when the loop turns to the line (line_takes); the waits of
// the ways out find it taken at once.
void line_send(line_state&) {}
bool wait_line_only(line_state&, unsigned, deadline) { return true; }
bool line_set_speed(line_state&, long) { return false; }
void stop_now(int) { longjmp(quit_jump, 1); }

void line_end_program(line_state&, int, int) { longjmp(quit_jump, 1); }

// The command keys' part of the line: a line with no break and no modem
// lines, whose speed and settings are the defaults.
const line_settings& line_settings_now(const line_state&) {
    static const line_settings defaults;
    return defaults;
}
long line_speed(const line_state&) { return 115200; }
bool line_gone(const line_state&) { return line_away; }
line_transport* line_transport_now(const line_state&) { return nullptr; }
bool line_send_break(line_state&, int) { return false; }
bool line_set_modem_line(line_state&, modem_line, bool) { return false; }
bool line_pulse(line_state&) { return false; }
modem_state line_modem_state(line_state&) { return {}; }
// Ctrl-T f with no flash command here: nothing is lent.
void line_lend(line_state&) {}
bool line_reopen(line_state&, bool) { return true; }
bool wait_once(line_state&, unsigned, deadline) { return false; }
void line_keys_without_line(line_state& line) { keys_without_line(*line.watch.keys, nullptr, nullptr); }

}  // namespace tolvane

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    using namespace tolvane;
    root_path = scratch::open();
    // As the program: a write to a FIFO whose reader went is a failed write.
    std::signal(SIGPIPE, SIG_IGN);
    const rlimit size_limit{FILE_SIZE_MAX, FILE_SIZE_MAX};
    if (setrlimit(RLIMIT_FSIZE, &size_limit) != 0) fault("cannot limit the file size");
    if (!confine_open_root(root_path.c_str())) fault("cannot open the scratch root");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tolvane;
    if (size == 0) return 0;
    scratch::reset();
    const int free_descriptor = lowest_free_descriptor();
    service_settings service;
    service.trace = data[0] & 1;
    service.read_only = data[0] & 2;
    service.root = root_path;
    rpc_start(terminal.files, service);
    confine_walk_only = data[0] & 4;
    std::memset(terminal.files.text, 0, sizeof terminal.files.text);  // nothing carried over from the input before
    line = data + 1;
    line_size = size - 1;
    line_next = 0;
    events = data[0] & 8;
    doubles_ff = data[0] & 16;
    one_at_a_time = data[0] & 32;
    line_left = 0;
    refusing = 0;
    line_away = false;
    queued = 0;
    keys_reset(terminal.keys);
    demux_reset(terminal);
    if (events)
        run_loop();
    else
        push(line, line_size);
    // The line falls silent: a request cut short is text, a read's data
    // goes out to its end.
    if (!quit_requested()) demux_silence(terminal);
    while (rpc_replying(terminal.files)) {
        refusing = 0;
        reply_goes_out();
    }

    // What the program would hold until it exits ends with the input here.
    handle_close_all(terminal.files.handles);
    find_end();
    if (lowest_free_descriptor() != free_descriptor) fault("a descriptor outlived its input");
    if (!scratch::outside_untouched()) fault("a file outside the service root changed");
    return 0;
}
