#include "terminal/transfer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "base/console.h"
#include "base/keyboard.h"
#include "base/keys.h"
#include "base/line.h"
#include "fileservice/confine.h"
#include "fileservice/open_mode.h"
#include "link/link.h"
#include "terminal/commands.h"
#include "terminal/session.h"
#include "terminal/watch.h"

namespace tolvane {

// The files of one transfer, received names confined as the file
// service's are.
struct transfer_files : xm_reader, xm_writer {
    std::FILE* file = nullptr;
    std::string made;                   // the name a received file got here
    std::vector<std::string> received;  // files received whole, not said yet
    long read(unsigned char* into, size_t count, std::string* why) override;
    bool create(const std::string& name, long long size, std::string* why) override;
    bool write(const unsigned char* bytes, size_t count, std::string* why) override;
    void finish(bool whole) override;
};

namespace {

void delete_files(transfer_files* files) { delete files; }
transfer_files_ptr new_files() { return transfer_files_ptr(new transfer_files, delete_files); }

using clock = std::chrono::steady_clock;

constexpr int KEY_ESC = 0x1B;
// The progress line changes at most this often.
constexpr int PROGRESS_MS = 250;
// A received name that is taken gets .1, .2 ... up to this.
constexpr int SAME_NAME_MAX = 999;
constexpr size_t RECEIVED_NAME_MAX = 255;

int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock::now().time_since_epoch()).count();
}

double seconds_since(clock::time_point start) {
    return std::chrono::duration<double>(clock::now() - start).count();
}

// The program's own line, after the board's text.
void say(const std::string& text) {
    console_start_line();
    console_print("%s\n", text.c_str());
}

// A name from the board: its last part, never a path, a control byte, "."
// or ".."; "" when nothing of it is usable.
std::string received_name(const std::string& name) {
    const size_t slash = name.find_last_of("/\\");
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    for (const char c : base)
        if (static_cast<unsigned char>(c) < 0x20) return "";
    if (base == "." || base == "..") return "";
    if (base.size() > RECEIVED_NAME_MAX) base.resize(RECEIVED_NAME_MAX);
    return base;
}

// Seconds to send count bytes at the line's speed (10 bits a byte).
int64_t wire_ms(const line_state& line, size_t count) {
    const long baud = line_speed(line);
    return baud > 0 ? static_cast<int64_t>(count) * 10000 / baud : 0;
}

// The transfer's output into the line's queue, as far as it takes it; the
// silence counts from when it will have left the line.
void hand_out(session& s) {
    xm_transfer& x = s.transfer.proto;
    if (x.out.empty()) return;
    const size_t count = std::min(line_room(s.line), x.out.size());
    for (size_t i = 0; i < count; ++i) line_put_raw(s.line, static_cast<unsigned char>(x.out[i]));
    line_send(s.line);
    xm_taken(x, count, now_ms() + wire_ms(s.line, line_pending(s.line)));
}

void end_progress(transfer_state& t) {
    if (!t.progress_shown) return;
    console_control("\r\x1b[K");
    t.progress_shown = false;
}

// "YMODEM u-boot.img: 65536 of 150000 bytes, 11.3 KB/s, 43%", over itself,
// on a console that is a terminal; a pipe or a log gets the end only.
void show_progress(transfer_state& t) {
    if (!keyboard_is_terminal()) return;
    const clock::time_point now = clock::now();
    if (t.progress_shown && now - t.shown < std::chrono::milliseconds(PROGRESS_MS)) return;
    t.shown = now;
    const long long done = t.proto.bytes_done, total = t.proto.bytes_total;
    const double seconds = seconds_since(t.started);
    std::string text = "\r" + t.label + ": " + std::to_string(done);
    text += total >= 0 ? " of " + std::to_string(total) + " bytes" : " bytes";
    char figures[64];
    std::snprintf(figures, sizeof figures, ", %.1f KB/s", seconds > 0 ? done / seconds / 1024 : 0.0);
    text += figures;
    if (total > 0) text += ", " + std::to_string(done * 100 / total) + "%";
    console_control((text + "\x1b[K").c_str());
    t.progress_shown = true;
}

void close_file(transfer_state& t) {
    if (!t.proto.sending || !t.files || !t.files->file) return;
    std::fclose(t.files->file);
    t.files->file = nullptr;
}

// A transfer that could not begin, or has ended: said, and a CI step's
// end handed to the watch.
void report_end(session& s, bool ok, const std::string& why) {
    transfer_state& t = s.transfer;
    end_progress(t);
    if (ok && t.proto.sending) {
        char text[128];
        std::snprintf(text, sizeof text, ": sent, %lld bytes in %.1f s", t.proto.size, seconds_since(t.started));
        say(t.label + text);
    } else if (ok) {
        say(t.label + ": done, " + std::to_string(t.proto.files) + (t.proto.files == 1 ? " file" : " files"));
    } else if (!t.step) {
        say(t.label + " failed: " + why);
    }
    if (t.step) watch_transfer_ended(s.watch, ok, t.label + ": " + why);
}

void say_received(transfer_state& t) {
    if (!t.files || t.files->received.empty()) return;
    end_progress(t);
    for (const std::string& name : t.files->received) say("YMODEM: received " + name);
    t.files->received.clear();
}

void finish_if_ended(session& s) {
    transfer_state& t = s.transfer;
    say_received(t);
    if (!t.active || t.proto.outcome == xm_outcome::running) return;
    hand_out(s);  // the last ACK, or CAN CAN
    close_file(t);
    t.active = false;
    report_end(s, t.proto.outcome == xm_outcome::done, t.proto.why);
}

void start_send(session& s, xm_protocol protocol, const std::string& path, bool step) {
    transfer_state& t = s.transfer;
    t = transfer_state{};
    t.step = step;
    t.label = std::string(protocol == xm_protocol::ymodem ? "YMODEM " : "XMODEM ") + path;
    t.proto.sending = true;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    long long size = -1;
    if (file && std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (!file || size < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        const std::string why = std::strerror(errno);
        if (file) std::fclose(file);
        return report_end(s, false, why);
    }
    t.files = new_files();
    t.files->file = file;
    t.started = clock::now();
    xm_send_start(t.proto, protocol, path, size, t.files.get(), now_ms());
    t.active = true;
    say(t.label + ": " + std::to_string(size) + " bytes, waiting for the receiver (Esc cancels)");
}

void start_receive(session& s) {
    transfer_state& t = s.transfer;
    t = transfer_state{};
    t.label = "YMODEM";
    t.proto.sending = false;
    if (s.files.settings.read_only) return report_end(s, false, "the files are read-only (-p)");
    const std::optional<std::string>& root = s.files.settings.root;
    say("YMODEM: receiving into " + (root ? *root : std::string("the current directory")) + " (Esc cancels)");
    t.started = clock::now();
    t.files = new_files();
    xm_receive_start(t.proto, t.files.get(), now_ms());
    t.active = true;
    hand_out(s);
}

}  // namespace

long transfer_files::read(unsigned char* into, size_t count, std::string* why) {
    const size_t n = std::fread(into, 1, count, file);
    if (n == 0 && std::ferror(file)) {
        *why = std::string("read: ") + std::strerror(errno);
        return -1;
    }
    return static_cast<long>(n);
}

bool transfer_files::create(const std::string& name, long long, std::string* why) {
    const std::string base = received_name(name);
    if (base.empty()) {
        *why = "no file name in \"" + name.substr(0, 64) + "\"";
        return false;
    }
    const open_mode probe = open_mode_parse("rb"), make = open_mode_parse("wb");
    for (int n = 0; n <= SAME_NAME_MAX; ++n) {
        const std::string candidate = n == 0 ? base : base + "." + std::to_string(n);
        if (std::FILE* there = confine_fopen(candidate.c_str(), "rb", probe)) {
            std::fclose(there);  // never overwritten
            continue;
        }
        if (errno != ENOENT) continue;
        file = confine_fopen(candidate.c_str(), "wb", make);
        if (!file) {
            *why = candidate + ": " + std::strerror(errno);
            return false;
        }
        made = candidate;
        return true;
    }
    *why = base + ": that name and " + base + ".1 to ." + std::to_string(SAME_NAME_MAX) + " are taken";
    return false;
}

bool transfer_files::write(const unsigned char* bytes, size_t count, std::string* why) {
    if (std::fwrite(bytes, 1, count, file) == count) return true;
    *why = made + ": " + std::strerror(errno);
    return false;
}

// A file received whole is kept and said; one cut short is removed.
void transfer_files::finish(bool whole) {
    if (!file) return;
    const bool closed = std::fclose(file) == 0;
    file = nullptr;
    if (whole && closed) {
        received.push_back(made);
    } else {
        confine_remove(made.c_str());
    }
    made.clear();
}

bool transfer_take_over(session& s) {
    if (s.transfer.active) return true;
    watch_step step;
    char key = 0;
    std::string path;
    if (watch_take_transfer(s.watch, &step))
        start_send(s, step.what == watch_step::kind::ymodem ? xm_protocol::ymodem : xm_protocol::xmodem, step.text,
                   true);
    else if (commands_take_transfer(s, &key, &path) && key == 'Y')
        start_receive(s);
    else if (key != 0)
        start_send(s, key == 'y' ? xm_protocol::ymodem : xm_protocol::xmodem, path, false);
    return s.transfer.active;
}

bool transfer_active(const session& s) { return s.transfer.active; }

size_t transfer_feed(session& s, const unsigned char* bytes, size_t count) {
    transfer_state& t = s.transfer;
    const size_t used = xm_feed(t.proto, bytes, count, now_ms());
    hand_out(s);
    if (t.proto.outcome == xm_outcome::running) show_progress(t);
    finish_if_ended(s);
    return used;
}

void transfer_turn(session& s) {
    if (!transfer_take_over(s)) return;
    transfer_state& t = s.transfer;
    // Keys have no place on the line while a file has it: Esc cancels, the
    // rest are dropped (Ctrl-Q has ended the program before this).
    for (int key; (key = keys_take(s.keys)) >= 0;)
        if (key == KEY_ESC) xm_cancel(t.proto, "cancelled");
    xm_tick(t.proto, now_ms());
    hand_out(s);
    finish_if_ended(s);
}

deadline transfer_due(const session& s) {
    if (!s.transfer.active) return deadline::never();
    return deadline::in(std::max<int64_t>(0, xm_next_tick(s.transfer.proto) - now_ms()));
}

void transfer_abandon(session& s, const char* why) {
    transfer_state& t = s.transfer;
    if (!t.active) return;
    xm_cancel(t.proto, why);
    finish_if_ended(s);
}

}  // namespace tolvane
