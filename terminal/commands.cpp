#include "terminal/commands.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/console.h"
#include "base/frame.h"
#include "base/keyboard.h"
#include "base/keys.h"
#include "base/line.h"
#include "base/session_stats.h"
#include "net/url.h"
#include "terminal/display.h"
#include "terminal/session.h"

namespace tolvane {

namespace {

// A break of about a quarter second: long enough for SysRq, kgdb, U-Boot
// and the boot ROMs that look for one, at any speed from 300 Baud up.
constexpr int BREAK_MS = 250;
constexpr char CLEAR_SCREEN[] = "\x1b[H\x1b[2J";

// Digits a speed is typed with at most (a Baud rate far beyond any UART's).
constexpr size_t SPEED_DIGITS_MAX = 9;
// A path typed for a transfer, at most.
constexpr size_t PATH_TYPED_MAX = 4096;
constexpr int KEY_ESC = 0x1B;


// "Ctrl-T", "x", "0xE0": a key as the messages name it; "none" for no
// command key.
std::string key_name(int key) {
    if (key == NO_COMMAND_KEY) return "none";
    if (key < 0x20) return std::string("Ctrl-") + static_cast<char>(key + '@');
    if (key < 0x7F) return std::string(1, static_cast<char>(key));
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%02X", key);
    return hex;
}

const char* on_off(bool on) { return on ? "on" : "off"; }

// Each command's message starts a line of its own.
void say_line() { console_start_line(); }

bool line_here(session& s) {
    if (line_transport_now(s.line) != nullptr && !line_gone(s.line)) return true;
    say_line();
    console_print("no line now: waiting for %s\n", s.commands.run.line.device.c_str());
    return false;
}

void list_commands(session& s);

void send_break(session& s) {
    if (!line_here(s)) return;
    const bool sent = line_send_break(s.line, BREAK_MS);
    say_line();
    if (sent)
        console_print("break sent (%d ms)\n", BREAK_MS);
    else
        console_print("%s: no break on this line\n", line_settings_now(s.line).device.c_str());
}

// Where the driver cannot tell a line's level, it is taken as on: drivers
// and ser2net raise DTR and RTS when a line is opened.
void toggle(session& s, modem_line which, unsigned bit, const char* name) {
    if (!line_here(s)) return;
    const modem_state state = line_modem_state(s.line);
    const bool now_on = !(state.known & bit) || (state.on & bit);
    const bool set = line_set_modem_line(s.line, which, !now_on);
    say_line();
    if (set)
        console_print("%s %s\n", name, on_off(!now_on));
    else
        console_print("%s: no modem lines\n", line_settings_now(s.line).device.c_str());
}

void toggle_dtr(session& s) { toggle(s, modem_line::dtr, MODEM_DTR, "DTR"); }
void toggle_rts(session& s) { toggle(s, modem_line::rts, MODEM_RTS, "RTS"); }

void pulse(session& s) {
    const line_settings& line = line_settings_now(s.line);
    if (line.pulse_line == modem_line::none) {
        say_line();
        console_print("no reset pulse: --pulse names none\n");
        return;
    }
    if (!line_here(s)) return;
    const bool given = line_pulse(s.line);
    say_line();
    if (given)
        console_print("reset pulse: %s on for %d ms\n", line.pulse_line == modem_line::dtr ? "DTR" : "RTS",
                      line.pulse_ms);
    else
        console_print("%s: no modem lines\n", line.device.c_str());
}

// The view's toggles: said first, so the next text starts a line.
void change_view(const char* what, bool on, const view_settings& view) {
    say_line();
    console_print("%s %s\n", what, on_off(on));
    display_change(view);
}

void toggle_stamps(session& s) {
    view_settings view = display_settings();
    view.stamps = view.stamps == stamp_format::none ? s.commands.stamps_when_on : stamp_format::none;
    change_view("timestamps", view.stamps != stamp_format::none, view);
}

void toggle_hex(session&) {
    view_settings view = display_settings();
    view.hex = !view.hex;
    change_view("hex view", view.hex, view);
}

void toggle_echo(session&) {
    view_settings view = display_settings();
    view.local_echo = !view.local_echo;
    change_view("local echo", view.local_echo, view);
}

void clear_screen(session&) { console_control(CLEAR_SCREEN); }

std::string flow_text(flow_kind flow) {
    switch (flow) {
    case flow_kind::none: return "no flow control";
    case flow_kind::hard: return "hard flow control (RTS/CTS)";
    case flow_kind::soft: return "soft flow control (XON/XOFF)";
    }
    return "";
}

// "DTR on, RTS off, CTS on": the lines the driver can tell, or set since.
std::string modem_text(const modem_state& state) {
    static const struct {
        unsigned bit;
        const char* name;
    } lines[] = {{MODEM_DTR, "DTR"}, {MODEM_RTS, "RTS"}, {MODEM_CTS, "CTS"},
                 {MODEM_DSR, "DSR"}, {MODEM_CD, "CD"},   {MODEM_RI, "RI"}};
    std::string text;
    for (const auto& l : lines) {
        if (!(state.known & l.bit)) continue;
        text += std::string(text.empty() ? "" : ", ") + l.name + " " + on_off(state.on & l.bit);
    }
    return text.empty() ? "modem lines not known" : text;
}

void show_line(session& s) {
    if (!line_here(s)) return;
    const line_settings& line = line_settings_now(s.line);
    say_line();
    if (net_url_bytes_only(line.device)) {
        console_print("%s: speed, frame and modem lines are the server's\n", line.device.c_str());
        return;
    }
    console_print("%s: %ld Baud %s, %s; %s\n", line.device.c_str(), line_speed(s.line), frame_text(line).c_str(),
                  flow_text(line.flow).c_str(), modem_text(line_modem_state(s.line)).c_str());
}

void statistics(session&) {
    const session_stats& counts = stats();
    const long long seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - counts.started).count();
    say_line();
    console_print("since the start (%lld:%02lld:%02lld): %" PRIu64 " bytes from the line, %" PRIu64
                  " to it, %" PRIu64 " requests served\n",
                  seconds / 3600, seconds / 60 % 60, seconds % 60, counts.bytes_from_line, counts.bytes_to_line, counts.requests);
}

// Both programs' drivers raise DTR and RTS when they open a port.
std::string level_text(line_level level) {
    return level == line_level::keep ? "raised at open" : std::string("held ") + on_off(level == line_level::on);
}

void show_settings(session& s) {
    const line_settings& line = line_settings_now(s.line);
    const service_settings& files = s.commands.run.files;
    const view_settings& view = display_settings();
    say_line();
    console_print("line: %s, %ld Baud %s, %s%s\n", line.device.c_str(), line.baud, frame_text(line).c_str(),
                  flow_text(line.flow).c_str(), line.wait_for_line ? ", waited for (-w)" : "");
    console_print("modem lines: DTR %s, RTS %s", level_text(line.dtr).c_str(), level_text(line.rts).c_str());
    if (line.pulse_line != modem_line::none)
        console_print(", reset pulse %s %d ms", line.pulse_line == modem_line::dtr ? "DTR" : "RTS", line.pulse_ms);
    if (s.commands.run.plain)
        console_print("\nfiles: none (plain: a terminal only)\n");
    else
        console_print("\nfiles: %s%s%s\n", files.root ? files.root->c_str() : "the host's",
                      files.read_only ? ", read-only" : "", files.trace ? ", traced" : "");
    if (s.commands.run.output_delay_ms > 0 || s.commands.run.output_line_delay_ms > 0)
        console_print("output paced: %d ms a byte, %d ms after CR\n", s.commands.run.output_delay_ms,
                      s.commands.run.output_line_delay_ms);
    console_print("view: %s\n", display_describe(view).c_str());
    console_print("log: %s; command key %s\n", s.commands.run.log_path.empty() ? "none" : s.commands.run.log_path.c_str(),
                  key_name(s.commands.run.view.command_key).c_str());
}

void ask_speed(session& s) {
    if (!line_here(s)) return;
    say_line();
    console_print("speed: ");
    s.commands.asks = commands_state::asking::speed;
    s.commands.typed.clear();
}

// y and x ask for the file's path; Y receives at once.
void ask_path(session& s, char key) {
    if (!line_here(s)) return;
    say_line();
    console_print("send by %s: ", key == 'y' ? "YMODEM" : "XMODEM");
    s.commands.asks = commands_state::asking::path;
    s.commands.transfer_key = key;
    s.commands.typed.clear();
}
void ask_ymodem(session& s) { ask_path(s, 'y'); }
void ask_xmodem(session& s) { ask_path(s, 'x'); }

void receive_ymodem(session& s) {
    if (!line_here(s)) return;
    if (s.commands.run.files.read_only) {
        say_line();
        console_print("no YMODEM receive: the files are read-only (-p)\n");
        return;
    }
    s.commands.transfer_key = 'Y';
    s.commands.typed.clear();
    s.commands.transfer_asked = true;
}

void set_speed_typed(session& s) {
    const std::string typed = s.commands.typed;
    const long baud = typed.empty() ? 0 : std::strtol(typed.c_str(), nullptr, 10);
    console_print("\n");
    if (baud <= 0)
        console_print("speed unchanged\n");
    else if (!line_here(s))
        return;
    else if (net_url_bytes_only(line_settings_now(s.line).device))
        console_print("%s: the speed is the server's\n", line_settings_now(s.line).device.c_str());
    else if (line_set_speed(s.line, baud))
        console_print("%s: %ld Baud\n", line_settings_now(s.line).device.c_str(), line_speed(s.line));
    else
        console_print("%ld Baud not supported\n", baud);
}

void version(session&) {
    say_line();
    console_print("tolvane %s (%s)\n", TOLVANE_VERSION, __DATE__);
}

struct command {
    char key;
    const char* help;
    void (*act)(session& s);  // null: taken before it comes here
};

const command COMMANDS[] = {
    {'?', "this list", list_commands},
    {'b', "send a break (250 ms)", send_break},
    {'d', "DTR on or off", toggle_dtr},
    {'r', "RTS on or off", toggle_rts},
    {'p', "the reset pulse of --pulse", pulse},
    {'t', "timestamps on or off", toggle_stamps},
    {'h', "hex view on or off", toggle_hex},
    {'e', "local echo on or off", toggle_echo},
    {'l', "clear the screen", clear_screen},
    {'B', "set the line's speed (Enter sets it, Esc leaves)", ask_speed},
    {'y', "send a file by YMODEM (its path asked; Esc cancels)", ask_ymodem},
    {'x', "send a file by XMODEM (its path asked; Esc cancels)", ask_xmodem},
    {'Y', "receive files by YMODEM into the -d directory", receive_ymodem},
    {'L', "the line: speed, frame, flow control, modem lines", show_line},
    {'s', "statistics since the start", statistics},
    {'c', "the settings in force", show_settings},
    {'v', "the version", version},
    {'f', "lend the line to the flash command of the profile", nullptr},
    {'q', "quit (as Ctrl-Q)", nullptr},
};

void list_commands(session& s) {
    const std::string name = key_name(s.commands.run.view.command_key);
    say_line();
    console_print("%s, then:\n", name.c_str());
    for (const command& c : COMMANDS) console_print("  %c       %s\n", c.key, c.help);
    console_print("  %-7s send %s\n", name.c_str(), name.c_str());
    console_print("  Ctrl-Q  send Ctrl-Q\n");
}

// Commands typed while no line is there (-w), handed on by the waits.
void run_without_line(void* s, int key) { command_run(*static_cast<session*>(s), key); }

}  // namespace

void commands_start(session& s, const settings& run) {
    s.commands.run = run;
    stats().started = std::chrono::steady_clock::now();  // "since the start": the program's
    if (run.view.stamps != stamp_format::none) s.commands.stamps_when_on = run.view.stamps;
    keys_set_command_key(s.keys, run.view.command_key);
    s.line.watch.on_command = run_without_line;
    s.line.watch.command_context = &s;
}

bool command_prompt_open(session& s) { return s.commands.asks != commands_state::asking::nothing || s.commands.transfer_asked; }

namespace {

void prompt_ends(session& s, bool enter) {
    const commands_state::asking asked = s.commands.asks;
    s.commands.asks = commands_state::asking::nothing;
    if (asked == commands_state::asking::speed) {
        if (enter) return set_speed_typed(s);
        console_print("\nspeed unchanged\n");
    } else if (enter && !s.commands.typed.empty()) {
        console_print("\n");
        s.commands.transfer_asked = true;
    } else {
        console_print("\nnothing sent\n");
    }
}

}  // namespace

void command_prompt_key(session& s, int key) {
    std::string& typed = s.commands.typed;
    if (s.commands.transfer_asked) return;  // the transfer about to start takes the line: keys are dropped
    const bool path = s.commands.asks == commands_state::asking::path;
    if (key == '\r' || key == '\n') {
        prompt_ends(s, true);
    } else if (key == KEY_ESC) {
        prompt_ends(s, false);
    } else if ((key == KEYBOARD_BACKSPACE || key == 0x08 || key == 0x7F) && !typed.empty()) {
        // A UTF-8 character is taken back whole.
        do typed.pop_back();
        while (path && !typed.empty() && (static_cast<unsigned char>(typed.back()) & 0xC0) == 0x80);
        console_control("\b \b");
    } else if (!path && key >= '0' && key <= '9' && typed.size() < SPEED_DIGITS_MAX) {
        typed += static_cast<char>(key);
        console_print("%c", key);
    } else if (path && key >= 0x20 && key < 0x100 && key != 0x7F && typed.size() < PATH_TYPED_MAX) {
        typed += static_cast<char>(key);
        console_print("%c", key);
    }
}

bool commands_take_transfer(session& s, char* key, std::string* path) {
    if (!s.commands.transfer_asked) return false;
    s.commands.transfer_asked = false;
    *key = s.commands.transfer_key;
    *path = s.commands.typed;
    s.commands.typed.clear();
    return true;
}

void command_run(session& s, int key) {
    for (const command& c : COMMANDS) {
        if (c.key == key && c.act) {
            c.act(s);
            return;
        }
    }
    say_line();
    console_print("%s %s: no such command (%s ? lists them)\n", key_name(s.commands.run.view.command_key).c_str(),
                  key_name(key).c_str(), key_name(s.commands.run.view.command_key).c_str());
}

}  // namespace tolvane
