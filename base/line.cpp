#include "base/line.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "base/block_codec.h"
#include "base/console.h"
#include "base/deadline.h"
#include "base/keyboard.h"
#include "base/keys.h"
#include "base/serial_lines.h"
#include "base/session_log.h"
#include "base/session_stats.h"
#include "base/stop.h"
#include "base/text_format.h"
#include "base/time_limit.h"
#include "base/wait.h"

namespace tolvane {

namespace {

constexpr size_t LINE_BUFFER_SIZE = line_state::BUFFER_SIZE;
// On a way out a line that takes nothing for this long gets no more.
constexpr int LAST_OUTPUT_PATIENCE_MS = 500;
// How often the driver's output queue is looked at on the way out.
constexpr int DRAIN_LOOK_MS = 5;
// -w at start: how often a device that is not there is looked for.
constexpr int LOOK_MS = 250;
// A node that has just appeared may be root's alone for a moment, until
// udev gives it its group: so long it is looked at again.
constexpr int ACCESS_GRACE_MS = 2000;


bool is_network(const line_state& line) { return line.settings.network; }

// Ctrl-Q came or the --timeout passed, and the last output is not yet
// being let out: a pause for a command is cut short.
bool run_ending(const line_state& line) { return (quit_requested() || time_limit_passed()) && !line.taking_last_output; }

// Milliseconds to wait on the way out: up to the deadline after Ctrl-Q,
// else the patience for a line that takes nothing.
int leaving_wait_ms(const line_state& line) { return line.leave_by_deadline ? line.leave.left_ms() : LAST_OUTPUT_PATIENCE_MS; }

// Writes what is queued without waiting; false when the line failed (the
// rest of the queue is then dropped).
bool write_queued(line_state& line) {
    size_t done = 0;
    bool failed = false;
    while (done < line.out.size()) {
        const long n = line.transport->write(line.out.data() + done, line.out.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            stats().bytes_to_line += static_cast<uint64_t>(n);
        } else {
            failed = n == LINE_FAILED;
            break;
        }
    }
    if (failed)
        line.out.clear();
    else
        line.out.erase(line.out.begin(), line.out.begin() + static_cast<std::ptrdiff_t>(done));
    return !failed;
}

// On the ways out: sends what the line still takes, but never hangs on a
// line that takes nothing.
void flush_before_leaving(line_state& line) {
    while (!line.out.empty() && write_queued(line) && !line.out.empty()) {
        const int ms = leaving_wait_ms(line);
        if (ms == 0 || !wait_line_only(line, WAIT_OUTPUT, deadline::in(ms))) break;
    }
    line.out.clear();
}

// The transport's own queue drained, within the same patience: true when
// it did.
bool drained_before_leaving(line_state& line) {
    size_t pending = line.transport->unsent();
    deadline patience = deadline::in(LAST_OUTPUT_PATIENCE_MS);
    while (pending > 0) {
        if (leaving_wait_ms(line) == 0) return false;
        if (!line.leave_by_deadline && patience.passed()) return false;
        wait_line_only(line, 0, deadline::in(DRAIN_LOOK_MS));
        const size_t now_pending = line.transport->unsent();
        if (now_pending < pending) patience = deadline::in(LAST_OUTPUT_PATIENCE_MS);
        pending = now_pending;
    }
    return true;
}

// Every way out: the queue sent, then the old settings once the output has
// left at the line's speed. A line that takes nothing (a board halted at a
// breakpoint) gets its output dropped, so neither the settings nor the
// close wait for it.
void restore_line(line_state& line) {
    if (line.transport == nullptr) return;
    flush_before_leaving(line);
    const bool drained = drained_before_leaving(line);
    if (line.transport->close(drained, leaving_wait_ms(line))) delete line.transport;
    line.transport = nullptr;
}

void restore_at_exit(void* line) { restore_line(*static_cast<line_state*>(line)); }

// What the transport has for the other end (telnet answers) joins the queue.
void take_transport_output(line_state& line) {
    std::array<unsigned char, 256> answers;
    for (size_t n; (n = line.transport->take_output(answers.data(), answers.size())) > 0;)
        line.out.insert(line.out.end(), answers.data(), answers.data() + n);
}

void use(line_state& line, line_transport* transport) {
    line.transport = transport;
    line.doubled = transport->doubled_byte();
    line.in_next = line.in_end = 0;
    line.out.clear();
    line.gone = false;
    stop_on_exit(restore_at_exit, &line);
}

// The line failed for good. With -w a line that went away is let go and
// waited for: until it is back, reads answer ETX at once and writes are
// dropped, so a request in progress runs out by itself. Otherwise the
// program ends.
void line_lost(line_state& line, const char* operation) {
    line.out.clear();  // nothing more can leave
    const std::string why = line.transport->why;
    const char* device = line.settings.device.c_str();
    console_start_line();
    const bool waits = line.wait_when_gone && line.transport->went_away;
    if (waits && line.transport->comes_back) {
        session_log_note("line lost");
        console_error("%s: %s: %s\n", operation, device, why.c_str());
        console_print("waiting for %s (Ctrl-Q ends)\n", device);
        stop_forget(restore_at_exit, &line);
        if (line.transport->let_go()) delete line.transport;
        line.transport = nullptr;
        line.in_next = line.in_end = 0;
        line.gone = true;
        return;
    }
    stop_restore();  // the message then reads on a cooked console
    console_error("%s: %s: %s\n", operation, device, why.c_str());
    if (waits) console_error("not waiting for %s: a pty that went away never comes back\n", device);
    stop_now(-1);
}

// One read of whatever is there; false when nothing was (or the line is
// gone). The transport's own answers go out before the next data.
bool read_some(line_state& line) {
    const long n = line.transport->read(line.in.data(), line.in.size());
    take_transport_output(line);
    if (n > 0) {
        line.in_next = 0;
        line.in_end = static_cast<size_t>(n);
        ++line.reads;
        stats().bytes_from_line += static_cast<uint64_t>(n);
        return true;
    }
    if (n == LINE_FAILED) line_lost(line, "read");
    return false;
}

// What the transport has for the other end (telnet commands) goes out
// before the next data.
void pass_transport_output(line_state& line) {
    take_transport_output(line);
    line_send(line);
}

// Sleeps ms, keys recorded as in every wait; a run that ends cuts it short.
void pause_ms(line_state& line, int ms) {
    const deadline until = deadline::in(ms);
    while (!until.passed() && !run_ending(line)) wait_once(line, 0, until);
}

// What was queued before a command leaves before it does: written as the
// line takes it, then out of the driver, each within the patience.
void send_queued_first(line_state& line) {
    deadline patience = deadline::in(LAST_OUTPUT_PATIENCE_MS);
    while (!line.out.empty() && !line.gone && !patience.passed()) {
        line_send(line);
        if (!line.out.empty() && !line.gone) wait_once(line, WAIT_OUTPUT, patience);
    }
    while (!line.gone && line.transport->unsent() > 0 && !patience.passed()) pause_ms(line, DRAIN_LOOK_MS);
}

bool usable(const line_state& line) { return line.transport != nullptr && !line.gone; }

// A device named by its USB ids opens on the line the board has now; one
// that is not plugged in is absent, as a device path that is not there.
line_transport* open_device(const line_settings& settings, bool first, open_outcome* outcome) {
    if (!is_usb_name(settings.device)) return device_transport_open(settings, first, outcome);
    line_settings found = settings;
    const char* name = settings.device.c_str();
    switch (find_usb_line(settings.device, find_serial_lines(), &found.device)) {
    case usb_found::one: return device_transport_open(found, first, outcome);
    case usb_found::none:
        outcome->result = open_result::absent;
        outcome->message = text_printf("open: %s: no such board plugged in\n", name);
        return nullptr;
    case usb_found::several: break;
    }
    outcome->result = open_result::failed;
    outcome->message = text_printf("open: %s: several lines match (%s)\n", name, found.device.c_str());
    return nullptr;
}

// -w at start: a device that is not there yet is looked for a few times a
// second, the keyboard read for Ctrl-Q and the commands (keys have no line
// to go to).
line_transport* open_when_there(line_state& line, const line_settings& settings) {
    open_outcome outcome;
    line_transport* transport = open_device(settings, true, &outcome);
    if (transport != nullptr || outcome.result != open_result::absent) {
        if (transport == nullptr) console_error("%s", outcome.message.c_str());
        return transport;
    }
    console_print("waiting for %s (Ctrl-Q ends)\n", settings.device.c_str());
    keyboard_take();
    line.watch.keyboard = true;
    deadline denied_grace = deadline::never();
    for (;;) {
        const deadline look = deadline::in(LOOK_MS);
        while (!look.passed() && !quit_requested() && !time_limit_passed()) wait_once(line, 0, look);
        line_keys_without_line(line);
        if (quit_requested()) stop_now(0);
        if (time_limit_passed()) break;  // the caller says so
        transport = open_device(settings, true, &outcome);
        if (transport != nullptr) break;
        if (outcome.result == open_result::absent) {
            denied_grace = deadline::never();
            continue;
        }
        if (outcome.result == open_result::denied) {
            if (denied_grace.is_never()) denied_grace = deadline::in(ACCESS_GRACE_MS);
            if (!denied_grace.passed()) continue;
        }
        console_error("%s", outcome.message.c_str());
        break;
    }
    line.watch.keyboard = false;
    keyboard_release();
    return transport;
}

}  // namespace

bool line_open(line_state& line, const line_settings& settings) {
    line.settings = settings;
    line.wait_when_gone = false;
    line.taking_last_output = false;
    line.leave_by_deadline = false;
    line_transport* transport = nullptr;
    if (is_network(line)) {
        transport = network_transport_open(settings, true, false, line.watch);
    } else if (settings.wait_for_line) {
        transport = open_when_there(line, settings);
    } else {
        open_outcome outcome;
        transport = open_device(settings, true, &outcome);
        if (transport == nullptr) console_error("%s", outcome.message.c_str());
    }
    if (transport == nullptr) return false;
    use(line, transport);
    return true;
}

void line_close(line_state& line) {
    if (line.transport == nullptr) return;  // it went away and did not come back
    // Sent as long as the line takes it; a line that takes nothing for the
    // patience gets no more.
    while (!line.out.empty() && !line.gone && !run_ending(line)) {
        line_send(line);
        if (line.out.empty() || line.gone) break;
        if (!wait_once(line, WAIT_OUTPUT, deadline::in(LAST_OUTPUT_PATIENCE_MS))) break;
    }
    stop_forget(restore_at_exit, &line);
    restore_line(line);
}

long line_speed(const line_state& line) { return line.transport ? line.transport->speed() : line.settings.baud; }

unsigned long line_reads(const line_state& line) { return line.reads; }

size_t line_buffered(const line_state& line) {
    return line.in_end - line.in_next + (line.transport ? line.transport->input_held() : 0);
}

size_t line_in_hand(line_state& line, const unsigned char** bytes) {
    *bytes = line.in.data() + line.in_next;
    return line.in_end - line.in_next;
}

void line_take(line_state& line, size_t count) { line.in_next += std::min(count, line.in_end - line.in_next); }

bool line_input_in_hand(const line_state& line, unsigned events) { return (events & WAIT_INPUT) && line.in_end > line.in_next; }

void line_fill(line_state& line) {
    if (line.in_next == line.in_end && !line.gone) read_some(line);
}

void line_send(line_state& line) {
    if (line.out.empty() || line.gone) return;
    if (!write_queued(line)) line_lost(line, "write");
}

size_t line_pending(const line_state& line) { return line.out.size(); }

size_t line_room(const line_state& line) {
    const size_t queued = line.out.size();
    const size_t room = line.gone ? LINE_BUFFER_SIZE : queued < LINE_BUFFER_SIZE ? LINE_BUFFER_SIZE - queued : 0;
    return line.transport ? room / line.transport->wire_bytes_max() : room;
}

bool line_wait_room(line_state& line, int ms) {
    if (line.gone) return true;
    const size_t before = line.out.size();
    line_send(line);
    if (line.gone || line.out.size() < before || line.out.empty()) return true;
    if (ms <= 0 || !wait_line_only(line, WAIT_OUTPUT, deadline::in(ms))) return false;
    line_send(line);
    return line.gone || line.out.size() < before;
}

void line_take_last_output(line_state& line) { line.taking_last_output = true; }

void line_leave_within(line_state& line, int ms) {
    line.leave_by_deadline = true;
    line.leave = deadline::in(ms);
}

void line_wait_when_gone(line_state& line, bool wait) { line.wait_when_gone = wait; }

bool line_gone(const line_state& line) { return line.gone; }

bool line_reopen(line_state& line, bool quiet) {
    open_outcome outcome;
    line_transport* transport = is_network(line) ? network_transport_open(line.settings, false, true, line.watch)
                                             : open_device(line.settings, false, &outcome);
    if (transport == nullptr) return false;
    use(line, transport);
    if (!quiet) console_print("%s back\n", line.settings.device.c_str());
    session_log_note("line back");
    return true;
}

void line_lend(line_state& line) {
    if (line.transport == nullptr || line.gone) return;
    stop_forget(restore_at_exit, &line);
    restore_line(line);
    line.in_next = line.in_end = 0;
    line.gone = true;
    session_log_note("line lent");
}

void line_end_program(line_state& line, int status, int ms) {
    console_flush();
    line_leave_within(line, ms);
    stop_now(status);
}

const line_settings& line_settings_now(const line_state& line) { return line.settings; }

bool line_send_break(line_state& line, int ms) {
    if (!usable(line)) return false;
    send_queued_first(line);
    if (!usable(line) || !line.transport->set_break(true)) return false;
    pass_transport_output(line);
    pause_ms(line, ms);
    if (!usable(line)) return true;  // gone meanwhile: it takes the break with it
    line.transport->set_break(false);
    pass_transport_output(line);
    return true;
}

bool line_set_modem_line(line_state& line, modem_line which, bool on) {
    if (!usable(line)) return false;
    send_queued_first(line);
    if (!usable(line) || !line.transport->set_modem_line(which, on)) return false;
    (which == modem_line::dtr ? line.settings.dtr : line.settings.rts) = on ? line_level::on : line_level::off;
    pass_transport_output(line);
    return true;
}

bool line_set_speed(line_state& line, long baud) {
    if (!usable(line)) return false;
    send_queued_first(line);  // what was typed at the old speed leaves at it
    if (!usable(line) || !line.transport->set_speed(baud)) return false;
    line.settings.baud = baud;  // a reopen (-w) asks for it again
    pass_transport_output(line);
    return true;
}

namespace {

// The frame and flow control of line.settings with one part changed.
bool set_frame_part(line_state& line, line_action::kind what, long value) {
    line_settings frame = line.settings;
    if (what == line_action::kind::data_bits) frame.data_bits = static_cast<int>(value);
    if (what == line_action::kind::parity) frame.parity = static_cast<parity_kind>(value);
    if (what == line_action::kind::stop_bits) frame.stop_bits = static_cast<int>(value);
    if (what == line_action::kind::flow) frame.flow = static_cast<flow_kind>(value);
    if (!line.transport->set_frame(frame)) return false;
    line.settings = frame;  // a reopen (-w) asks for it again
    return true;
}

bool act(line_state& line, const line_action& a) {
    using kind = line_action::kind;
    switch (a.what) {
    case kind::speed:
        if (!line.transport->set_speed(a.value)) return false;
        line.settings.baud = a.value;
        return true;
    case kind::dtr:
    case kind::rts: {
        const modem_line which = a.what == kind::dtr ? modem_line::dtr : modem_line::rts;
        if (!line.transport->set_modem_line(which, a.value != 0)) return false;
        (which == modem_line::dtr ? line.settings.dtr : line.settings.rts) = a.value ? line_level::on : line_level::off;
        return true;
    }
    case kind::brk:
        return line.transport->set_break(a.value != 0);
    case kind::purge:
        line.transport->purge(a.value & PURGE_INPUT, a.value & PURGE_OUTPUT);
        return true;
    default:
        return set_frame_part(line, a.what, a.value);
    }
}

}  // namespace

bool line_act_now(line_state& line, const line_action& action) {
    if (!usable(line)) return false;
    const bool done = act(line, action);
    pass_transport_output(line);  // a telnet line's own command for it
    return done;
}

bool line_pulse(line_state& line) {
    const modem_line which = line.settings.pulse_line;
    if (which == modem_line::none || !usable(line)) return false;
    const line_level held = which == modem_line::dtr ? line.settings.dtr : line.settings.rts;
    send_queued_first(line);
    if (!usable(line) || !line.transport->set_modem_line(which, true)) return false;
    pass_transport_output(line);
    pause_ms(line, line.settings.pulse_ms);
    if (!usable(line)) return true;
    line.transport->set_modem_line(which, held == line_level::on);
    pass_transport_output(line);
    return true;
}

modem_state line_modem_state(line_state& line) {
    modem_state state;
    if (!usable(line)) return state;
    line.transport->read_modem_lines(&state);
    const auto fill = [&state](unsigned bit, line_level level) {
        if ((state.known & bit) || level == line_level::keep) return;
        state.known |= bit;
        if (level == line_level::on) state.on |= bit;
    };
    fill(MODEM_DTR, line.settings.dtr);
    fill(MODEM_RTS, line.settings.rts);
    return state;
}

line_transport* line_transport_now(const line_state& line) { return line.transport; }

void line_keys_without_line(line_state& line) {
    if (line.watch.keys) keys_without_line(*line.watch.keys, line.watch.on_command, line.watch.command_context);
}

void line_put_raw(line_state& line, int byte) {
    if (line.gone) return;
    if (byte == line.doubled) line.out.push_back(static_cast<unsigned char>(byte));
    line.out.push_back(static_cast<unsigned char>(byte));
}

void line_put_data(line_state& line, const unsigned char* bytes, size_t count) {
    if (line.gone) return;
    size_t taken = 0;
    while (taken < count) {
        // Each byte takes at most two on the wire.
        const size_t at = line.out.size();
        line.out.resize(at + 2 * (count - taken));
        size_t written = 0;
        taken += block_escape(bytes + taken, count - taken, line.doubled, line.out.data() + at, line.out.size() - at,
                              &written);
        line.out.resize(at + written);
    }
}

}  // namespace tolvane
