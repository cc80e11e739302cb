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

struct command_record {
    settings run;  // as the run started; the line's and the view's now come from their owners
    stamp_format stamps_when_on = stamp_format::time_of_day;
    enum class asking { nothing, speed, path } asks = asking::nothing;
    char transfer_key = 0;   // y or x while a path is asked; then the transfer asked for, until taken
    std::string typed;       // the answer so far: the digits after "speed: ", a path
    bool transfer_asked = false;
};
command_record commands;

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

bool line_here() {
    if (line_transport_now() != nullptr && !line_gone()) return true;
    say_line();
    console_print("no line now: waiting for %s\n", commands.run.line.device.c_str());
    return false;
}

void list_commands();

void send_break() {
    if (!line_here()) return;
    const bool sent = line_send_break(BREAK_MS);
    say_line();
    if (sent)
        console_print("break sent (%d ms)\n", BREAK_MS);
    else
        console_print("%s: no break on this line\n", line_settings_now().device.c_str());
}

// Where the driver cannot tell a line's level, it is taken as on: drivers
// and ser2net raise DTR and RTS when a line is opened.
void toggle(modem_line which, unsigned bit, const char* name) {
    if (!line_here()) return;
    const modem_state state = line_modem_state();
    const bool now_on = !(state.known & bit) || (state.on & bit);
    const bool set = line_set_modem_line(which, !now_on);
    say_line();
    if (set)
        console_print("%s %s\n", name, on_off(!now_on));
    else
        console_print("%s: no modem lines\n", line_settings_now().device.c_str());
}

void toggle_dtr() { toggle(modem_line::dtr, MODEM_DTR, "DTR"); }
void toggle_rts() { toggle(modem_line::rts, MODEM_RTS, "RTS"); }

void pulse() {
    const line_settings& line = line_settings_now();
    if (line.pulse_line == modem_line::none) {
        say_line();
        console_print("no reset pulse: --pulse names none\n");
        return;
    }
    if (!line_here()) return;
    const bool given = line_pulse();
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

void toggle_stamps() {
    view_settings view = display_settings();
    view.stamps = view.stamps == stamp_format::none ? commands.stamps_when_on : stamp_format::none;
    change_view("timestamps", view.stamps != stamp_format::none, view);
}

void toggle_hex() {
    view_settings view = display_settings();
    view.hex = !view.hex;
    change_view("hex view", view.hex, view);
}

void toggle_echo() {
    view_settings view = display_settings();
    view.local_echo = !view.local_echo;
    change_view("local echo", view.local_echo, view);
}

void clear_screen() { console_control(CLEAR_SCREEN); }

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

void line_state() {
    if (!line_here()) return;
    const line_settings& line = line_settings_now();
    say_line();
    if (net_url_bytes_only(line.device)) {
        console_print("%s: speed, frame and modem lines are the server's\n", line.device.c_str());
        return;
    }
    console_print("%s: %ld Baud %s, %s; %s\n", line.device.c_str(), line_speed(), frame_text(line).c_str(),
                  flow_text(line.flow).c_str(), modem_text(line_modem_state()).c_str());
}

void statistics() {
    const session_stats& s = stats();
    const long long seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - s.started).count();
    say_line();
    console_print("since the start (%lld:%02lld:%02lld): %" PRIu64 " bytes from the line, %" PRIu64
                  " to it, %" PRIu64 " requests served\n",
                  seconds / 3600, seconds / 60 % 60, seconds % 60, s.bytes_from_line, s.bytes_to_line, s.requests);
}

// Both programs' drivers raise DTR and RTS when they open a port.
std::string level_text(line_level level) {
    return level == line_level::keep ? "raised at open" : std::string("held ") + on_off(level == line_level::on);
}

void show_settings() {
    const line_settings& line = line_settings_now();
    const service_settings& files = commands.run.files;
    const view_settings& view = display_settings();
    say_line();
    console_print("line: %s, %ld Baud %s, %s%s\n", line.device.c_str(), line.baud, frame_text(line).c_str(),
                  flow_text(line.flow).c_str(), line.wait_for_line ? ", waited for (-w)" : "");
    console_print("modem lines: DTR %s, RTS %s", level_text(line.dtr).c_str(), level_text(line.rts).c_str());
    if (line.pulse_line != modem_line::none)
        console_print(", reset pulse %s %d ms", line.pulse_line == modem_line::dtr ? "DTR" : "RTS", line.pulse_ms);
    if (commands.run.plain)
        console_print("\nfiles: none (plain: a terminal only)\n");
    else
        console_print("\nfiles: %s%s%s\n", files.root ? files.root->c_str() : "the host's",
                      files.read_only ? ", read-only" : "", files.trace ? ", traced" : "");
    if (commands.run.output_delay_ms > 0 || commands.run.output_line_delay_ms > 0)
        console_print("output paced: %d ms a byte, %d ms after CR\n", commands.run.output_delay_ms,
                      commands.run.output_line_delay_ms);
    console_print("view: %s\n", display_describe(view).c_str());
    console_print("log: %s; command key %s\n", commands.run.log_path.empty() ? "none" : commands.run.log_path.c_str(),
                  key_name(commands.run.view.command_key).c_str());
}

void ask_speed() {
    if (!line_here()) return;
    say_line();
    console_print("speed: ");
    commands.asks = command_record::asking::speed;
    commands.typed.clear();
}

// y and x ask for the file's path; Y receives at once.
void ask_path(char key) {
    if (!line_here()) return;
    say_line();
    console_print("send by %s: ", key == 'y' ? "YMODEM" : "XMODEM");
    commands.asks = command_record::asking::path;
    commands.transfer_key = key;
    commands.typed.clear();
}
void ask_ymodem() { ask_path('y'); }
void ask_xmodem() { ask_path('x'); }

void receive_ymodem() {
    if (!line_here()) return;
    if (commands.run.files.read_only) {
        say_line();
        console_print("no YMODEM receive: the files are read-only (-p)\n");
        return;
    }
    commands.transfer_key = 'Y';
    commands.typed.clear();
    commands.transfer_asked = true;
}

void set_speed_typed() {
    const std::string typed = commands.typed;
    const long baud = typed.empty() ? 0 : std::strtol(typed.c_str(), nullptr, 10);
    console_print("\n");
    if (baud <= 0)
        console_print("speed unchanged\n");
    else if (!line_here())
        return;
    else if (net_url_bytes_only(line_settings_now().device))
        console_print("%s: the speed is the server's\n", line_settings_now().device.c_str());
    else if (line_set_speed(baud))
        console_print("%s: %ld Baud\n", line_settings_now().device.c_str(), line_speed());
    else
        console_print("%ld Baud not supported\n", baud);
}

void version() {
    say_line();
    console_print("tolvane %s (%s)\n", TOLVANE_VERSION, __DATE__);
}

struct command {
    char key;
    const char* help;
    void (*act)();  // null: taken before it comes here
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
    {'L', "the line: speed, frame, flow control, modem lines", line_state},
    {'s', "statistics since the start", statistics},
    {'c', "the settings in force", show_settings},
    {'v', "the version", version},
    {'f', "lend the line to the flash command of the profile", nullptr},
    {'q', "quit (as Ctrl-Q)", nullptr},
};

void list_commands() {
    const std::string name = key_name(commands.run.view.command_key);
    say_line();
    console_print("%s, then:\n", name.c_str());
    for (const command& c : COMMANDS) console_print("  %c       %s\n", c.key, c.help);
    console_print("  %-7s send %s\n", name.c_str(), name.c_str());
    console_print("  Ctrl-Q  send Ctrl-Q\n");
}

}  // namespace

void commands_start(const settings& s) {
    commands.run = s;
    stats().started = std::chrono::steady_clock::now();  // "since the start": the program's
    if (s.view.stamps != stamp_format::none) commands.stamps_when_on = s.view.stamps;
    keys_set_command_key(s.view.command_key);
    keys_set_command_action(command_run);
}

bool command_prompt_open() { return commands.asks != command_record::asking::nothing || commands.transfer_asked; }

namespace {

void prompt_ends(bool enter) {
    const command_record::asking asked = commands.asks;
    commands.asks = command_record::asking::nothing;
    if (asked == command_record::asking::speed) {
        if (enter) return set_speed_typed();
        console_print("\nspeed unchanged\n");
    } else if (enter && !commands.typed.empty()) {
        console_print("\n");
        commands.transfer_asked = true;
    } else {
        console_print("\nnothing sent\n");
    }
}

}  // namespace

void command_prompt_key(int key) {
    std::string& typed = commands.typed;
    if (commands.transfer_asked) return;  // the transfer about to start takes the line: keys are dropped
    const bool path = commands.asks == command_record::asking::path;
    if (key == '\r' || key == '\n') {
        prompt_ends(true);
    } else if (key == KEY_ESC) {
        prompt_ends(false);
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

bool commands_take_transfer(char* key, std::string* path) {
    if (!commands.transfer_asked) return false;
    commands.transfer_asked = false;
    *key = commands.transfer_key;
    *path = commands.typed;
    commands.typed.clear();
    return true;
}

void command_run(int key) {
    for (const command& c : COMMANDS) {
        if (c.key == key && c.act) {
            c.act();
            return;
        }
    }
    say_line();
    console_print("%s %s: no such command (%s ? lists them)\n", key_name(commands.run.view.command_key).c_str(),
                  key_name(key).c_str(), key_name(commands.run.view.command_key).c_str());
}

}  // namespace tolvane
