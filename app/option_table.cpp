#include "app/option_table.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/frame.h"
#include "base/serial_lines.h"
#include "net/url.h"
#include "terminal/display.h"
#include "terminal/watch.h"

namespace tolvane {

namespace {

// --timeout takes up to this many seconds (about 30 years).
constexpr double TIME_LIMIT_MAX_SECONDS = 1e9;
// The longest reset pulse: a minute is already far beyond any board's.
constexpr long PULSE_MS_MAX = 60000;
// The longest pause after a byte sent: ten seconds is already a byte a
// person could type.
constexpr long OUTPUT_DELAY_MS_MAX = 10000;

bool refuse(std::string* message, const char* text) {
    *message = text;
    return false;
}

// The first word of a -c argument; empty when it holds none (an unset
// variable in -c "$PORT" must not open the default line).
std::string first_word(const char* text) {
    while (*text && std::isspace(static_cast<unsigned char>(*text))) ++text;
    const char* end = text;
    while (*end && !std::isspace(static_cast<unsigned char>(*end))) ++end;
    return std::string(text, end);
}

// A -c naming a network line must be a usable URL: a typo must not become
// a device path.
bool set_device(const char* arg, settings* s, std::string* message) {
    const std::string device = first_word(arg);
    if (device.empty()) return refuse(message, "option requires an argument");
    NetUrl url;
    std::string why;
    if (net_url_scheme(device) != net_scheme::none && !net_url_parse(device, &url, &why)) {
        *message = device + ": " + why;
        return false;
    }
    if (is_usb_name(device) && device.size() == std::strlen("usb:"))
        return refuse(message, "option needs usb:SERIAL or usb:VID:PID");
    s->line.device = device;
    return true;
}

// -b takes a whole number of Baud and nothing else: "fast" or "115k" must
// not run at some other speed.
bool set_baud(const char* arg, settings* s, std::string* message) {
    char* end = nullptr;
    errno = 0;
    const long value = *arg >= '0' && *arg <= '9' ? std::strtol(arg, &end, 10) : 0;
    if (end == nullptr || *end != '\0' || errno == ERANGE || value <= 0)
        return refuse(message, "option needs a whole number of Baud");
    s->line.baud = value;
    return true;
}

bool set_quit(const char*, settings* s, std::string*) { return s->quit_after_send = true; }
bool set_trace(const char*, settings* s, std::string*) { return s->files.trace = true; }
bool set_read_only(const char*, settings* s, std::string*) { return s->files.read_only = true; }
bool set_wait(const char*, settings* s, std::string*) { return s->line.wait_for_line = true; }

bool set_root(const char* arg, settings* s, std::string*) {
    s->files.root = arg;
    return true;
}

bool set_log(const char* arg, settings* s, std::string*) {
    s->log_path = arg;
    return true;
}

// --share: checked here, so that a typo is a usage error, not a socket.
bool add_share(const char* arg, settings* s, std::string* message) {
    share_address address;
    std::string why;
    if (!share_address_parse(arg, &address, &why)) {
        *message = std::string(arg) + ": " + why;
        return false;
    }
    s->shares.push_back(arg);
    return true;
}

bool set_lend(const char* arg, settings* s, std::string* message) {
    share_address address;
    std::string why;
    if (!share_address_parse(arg, &address, &why)) {
        *message = std::string(arg) + ": " + why;
        return false;
    }
    s->lend_share = arg;
    return true;
}

bool set_flash(const char* arg, settings* s, std::string*) {
    s->flash_command = arg;
    return true;
}

bool set_events(const char* arg, settings* s, std::string* message) {
    if (*arg == '\0') return refuse(message, "option requires an argument");
    s->events_path = arg;
    return true;
}

// --dtr and --rts take on or off.
bool parse_level(const char* arg, line_level* level, std::string* message) {
    if (std::strcmp(arg, "on") == 0) *level = line_level::on;
    else if (std::strcmp(arg, "off") == 0) *level = line_level::off;
    else return refuse(message, "option needs on or off");
    return true;
}

bool set_dtr(const char* arg, settings* s, std::string* message) { return parse_level(arg, &s->line.dtr, message); }
bool set_rts(const char* arg, settings* s, std::string* message) { return parse_level(arg, &s->line.rts, message); }

// --pulse takes dtr or rts, and :MS with a whole number of milliseconds.
bool set_pulse(const char* arg, settings* s, std::string* message) {
    const char* colon = std::strchr(arg, ':');
    const std::string name = colon ? std::string(arg, colon) : std::string(arg);
    const bool named = name == "dtr" || name == "rts";
    long ms = s->line.pulse_ms;
    if (named && colon) {
        const char* digits = colon + 1;
        char* end = nullptr;
        errno = 0;
        ms = *digits >= '0' && *digits <= '9' ? std::strtol(digits, &end, 10) : 0;
        if (end == nullptr || *end != '\0' || errno == ERANGE || ms <= 0 || ms > PULSE_MS_MAX) ms = 0;
    }
    if (!named || ms == 0) return refuse(message, "option needs dtr or rts[:MS], MS up to 60000");
    s->line.pulse_line = name == "dtr" ? modem_line::dtr : modem_line::rts;
    s->line.pulse_ms = static_cast<int>(ms);
    return true;
}

// --databits and --stopbits: one digit of those the drivers know.
bool parse_digit(const char* arg, const char* digits, int* value) {
    if (arg[0] == '\0' || arg[1] != '\0' || std::strchr(digits, arg[0]) == nullptr) return false;
    *value = arg[0] - '0';
    return true;
}

bool set_data_bits(const char* arg, settings* s, std::string* message) {
    if (!parse_digit(arg, "5678", &s->line.data_bits)) return refuse(message, "option needs 5, 6, 7 or 8");
    return s->line.frame_given = true;
}

bool set_parity(const char* arg, settings* s, std::string* message) {
    if (!parse_parity(arg, &s->line.parity)) return refuse(message, "option needs none, odd, even, mark or space");
    return s->line.frame_given = true;
}

bool set_stop_bits(const char* arg, settings* s, std::string* message) {
    if (!parse_digit(arg, "12", &s->line.stop_bits)) return refuse(message, "option needs 1 or 2");
    return s->line.frame_given = true;
}

bool set_flow(const char* arg, settings* s, std::string* message) {
    if (!parse_flow(arg, &s->line.flow)) return refuse(message, "option needs none, hard or soft");
    return s->line.frame_given = true;
}

// --command-key: a letter, for Ctrl and that letter; q is Ctrl-Q, which
// ends the program.
bool set_command_key(const char* arg, settings* s, std::string* message) {
    if (std::strcmp(arg, "none") == 0) {
        s->view.command_key = NO_COMMAND_KEY;
        return true;
    }
    const int letter = std::tolower(static_cast<unsigned char>(arg[0]));
    if (arg[0] == '\0' || arg[1] != '\0' || letter < 'a' || letter > 'z' || letter == 'q')
        return refuse(message, "option needs a letter other than q, or none");
    s->view.command_key = letter & 0x1F;
    return true;
}

bool set_stamp_format(const char* arg, settings* s, std::string* message) {
    if (arg == nullptr) {
        s->view.stamps = stamp_format::time_of_day;
        return true;
    }
    if (display_parse_stamp_format(arg, &s->view.stamps)) return true;
    return refuse(message, "option needs 24hour, 24hour-start, 24hour-delta or iso8601");
}

bool set_maps(const char* arg, settings* s, std::string* message) {
    if (display_parse_maps(arg, &s->view.maps)) return true;
    return refuse(message, "option needs INLCRNL, ICRNL, IGNCR, OCRNL or ONLCRNL");
}

// --timestamp takes the next word as its format when it is one.
bool is_stamp_format(const char* word) {
    stamp_format format;
    return display_parse_stamp_format(word, &format);
}

bool set_hex(const char*, settings* s, std::string*) { return s->view.hex = true; }
bool set_no_erase(const char*, settings* s, std::string*) { return s->no_erase = true; }
void clear_no_erase(settings* s) { s->no_erase = false; }

bool set_plain(const char*, settings* s, std::string*) { return s->plain = true; }
void clear_plain(settings* s) { s->plain = false; }

// --output-delay and --output-line-delay: whole milliseconds, 0 for none.
bool parse_delay(const char* arg, int* ms, std::string* message) {
    char* end = nullptr;
    errno = 0;
    const long value = *arg >= '0' && *arg <= '9' ? std::strtol(arg, &end, 10) : -1;
    if (end == nullptr || *end != '\0' || errno == ERANGE || value < 0 || value > OUTPUT_DELAY_MS_MAX)
        return refuse(message, "option needs a whole number of ms, up to 10000");
    *ms = static_cast<int>(value);
    return true;
}

bool set_output_delay(const char* arg, settings* s, std::string* message) {
    return parse_delay(arg, &s->output_delay_ms, message);
}
bool set_output_line_delay(const char* arg, settings* s, std::string* message) {
    return parse_delay(arg, &s->output_line_delay_ms, message);
}

bool set_backspace(const char* arg, settings* s, std::string* message) {
    if (std::strcmp(arg, "bs") == 0) s->view.backspace = 0x08;
    else if (std::strcmp(arg, "del") == 0) s->view.backspace = 0x7F;
    else return refuse(message, "option needs bs or del");
    return true;
}
bool set_keys(const char* arg, settings* s, std::string* message) {
    if (std::strcmp(arg, "vt") == 0) s->view.keys = key_form::vt;
    else if (std::strcmp(arg, "getch") == 0) s->view.keys = key_form::getch;
    else return refuse(message, "option needs vt or getch");
    return true;
}
bool set_local_echo(const char*, settings* s, std::string*) { return s->view.local_echo = true; }

void clear_quit(settings* s) { s->quit_after_send = false; }
void clear_trace(settings* s) { s->files.trace = false; }
void clear_read_only(settings* s) { s->files.read_only = false; }
void clear_wait(settings* s) { s->line.wait_for_line = false; }
void clear_stamps(settings* s) { s->view.stamps = stamp_format::none; }
void clear_hex(settings* s) { s->view.hex = false; }
void clear_local_echo(settings* s) { s->view.local_echo = false; }

bool add_step(watch_step::kind kind, const char* arg, settings* s, std::string* message) {
    const watch_step step{kind, arg};
    std::string why;
    if (!watch_step_valid(step, &why)) {
        *message = kind == watch_step::kind::send    ? "option has an unknown escape"
                   : kind == watch_step::kind::expect || kind == watch_step::kind::fail ? "bad pattern (" + why + ")"
                                                                                          : "option needs a file";
        return false;
    }
    s->watch.push_back(step);
    return true;
}

bool add_expect(const char* arg, settings* s, std::string* m) { return add_step(watch_step::kind::expect, arg, s, m); }
bool add_fail(const char* arg, settings* s, std::string* m) { return add_step(watch_step::kind::fail, arg, s, m); }
bool add_send(const char* arg, settings* s, std::string* m) { return add_step(watch_step::kind::send, arg, s, m); }
bool add_ymodem(const char* arg, settings* s, std::string* m) { return add_step(watch_step::kind::ymodem, arg, s, m); }
bool add_xmodem(const char* arg, settings* s, std::string* m) { return add_step(watch_step::kind::xmodem, arg, s, m); }

// Whole seconds or a decimal ("60", "2.5", ".5"), at most TIME_LIMIT_MAX_SECONDS;
// -1 when arg is none.
double seconds_in(const char* arg) {
    const char* p = arg;
    while (*p >= '0' && *p <= '9') ++p;
    bool valid = p != arg;
    if (*p == '.') {
        const char* fraction = ++p;
        while (*p >= '0' && *p <= '9') ++p;
        valid = valid || p != fraction;
    }
    const double value = valid && *p == '\0' ? std::strtod(arg, nullptr) : -1;
    return value <= TIME_LIMIT_MAX_SECONDS ? value : -1;
}

// --timeout: 0 is no limit.
bool set_timeout(const char* arg, settings* s, std::string* message) {
    const double value = seconds_in(arg);
    if (value < 0) return refuse(message, "option needs a number of seconds");
    s->time_limit_seconds = value;
    return true;
}

// --request-timeout: 0 waits for ever; anything else is at least a
// millisecond, so that a tiny value never turns into 0.
bool set_request_timeout(const char* arg, settings* s, std::string* message) {
    const double value = seconds_in(arg);
    if (value < 0) return refuse(message, "option needs a number of seconds");
    const long long ms = static_cast<long long>(std::ceil(value * 1000));
    s->files.request_timeout_ms = value > 0 && ms == 0 ? 1 : ms;
    return true;
}

bool always(const settings&) { return true; }
bool time_limited(const settings& s) { return s.time_limit_seconds > 0; }

constexpr option_action SET = option_action::set;
constexpr long_arg NONE = long_arg::none;
constexpr long_arg REQUIRED = long_arg::required;

// The arguments' values for the completions.
constexpr arg_values NO_VALUES{arg_kind::none, nullptr};
constexpr arg_values A_FILE{arg_kind::file, nullptr};
constexpr arg_values A_DIRECTORY{arg_kind::directory, nullptr};
constexpr arg_values A_LINE{arg_kind::line, nullptr};
constexpr arg_values words(const char* list) { return {arg_kind::words, list}; }

}  // namespace

// In the order of --help and the usage.
const option_row OPTION_TABLE[] = {
    {'c', "device", REQUIRED, "DEV",
     "the line: a device, rfc2217://HOST:PORT, tcp://HOST:PORT, unix:PATH, usb:ID or a profile", SET, set_device,
     nullptr, nullptr, nullptr, A_LINE},
    {'b', "baudrate", REQUIRED, "BAUD", "the line's speed (115200)", SET, set_baud, nullptr, nullptr, nullptr,
     words("9600 19200 38400 57600 115200 230400 460800 921600")},
    {'q', "quit", NONE, nullptr, "send the reset and the command words, then exit", SET, set_quit, nullptr,
     clear_quit, nullptr, NO_VALUES},
    {'r', "trace", NONE, nullptr, "print a trace line for each file request", SET, set_trace, nullptr, clear_trace,
     nullptr, NO_VALUES},
    {'d', "root", REQUIRED, "DIR", "serve the target only the files beneath DIR", SET, set_root, nullptr, nullptr,
     nullptr, A_DIRECTORY},
    {'p', "read-only", NONE, nullptr, "serve the files read-only", SET, set_read_only, nullptr, clear_read_only,
     nullptr, NO_VALUES},
    {0, "request-timeout", REQUIRED, "SECONDS", "silence inside a request that makes it text (1; 0: none)", SET,
     set_request_timeout, nullptr, nullptr, nullptr, NO_VALUES},
    {'w', "wait", NONE, nullptr, "wait for the line, at start and when it goes away", SET, set_wait, nullptr,
     clear_wait, nullptr, NO_VALUES},
    {'l', "log", REQUIRED, "FILE", "append what the console shows to FILE", SET, set_log, nullptr, nullptr, nullptr,
     A_FILE},
    {0, "share", REQUIRED, "ADDR",
     "let other programs on the line: unix:PATH, tcp:HOST:PORT or rfc2217:HOST:PORT (repeatable)", SET, add_share,
     nullptr, nullptr, nullptr, NO_VALUES},
    {0, "lend", REQUIRED, "SHARE", "run the words after -- with the line of the tolvane sharing at SHARE", SET,
     set_lend, nullptr, nullptr, nullptr, NO_VALUES},
    {0, "flash", REQUIRED, "COMMAND", "what Ctrl-T f lends the line to (a shell command)", SET, set_flash, nullptr,
     nullptr, nullptr, NO_VALUES},
    {0, "events", REQUIRED, "PATH", "one JSON line per event to PATH: a file, a FIFO or unix:PATH", SET, set_events,
     nullptr, nullptr, nullptr, A_FILE},
    {'t', "timestamp", long_arg::optional, "FORMAT",
     "stamp each line of target text: 24hour (-t), 24hour-start, 24hour-delta or iso8601", SET, set_stamp_format,
     nullptr, clear_stamps, is_stamp_format, words("24hour 24hour-start 24hour-delta iso8601")},
    {0, "map", REQUIRED, "FLAGS", "INLCRNL,ICRNL,IGNCR for target text, OCRNL,ONLCRNL for keys", SET, set_maps,
     nullptr, nullptr, nullptr, words("INLCRNL ICRNL IGNCR OCRNL ONLCRNL")},
    {0, "hex", NONE, nullptr, "show target bytes in hex, 16 to a line", SET, set_hex, nullptr, clear_hex, nullptr,
     NO_VALUES},
    {0, "local-echo", NONE, nullptr, "show the keys as they are sent", SET, set_local_echo, nullptr,
     clear_local_echo, nullptr, NO_VALUES},
    {0, "backspace", REQUIRED, "bs|del", "what Backspace sends: 0x08 (bs, the default) or 0x7F (del)", SET,
     set_backspace, nullptr, nullptr, nullptr, words("bs del")},
    {0, "keys", REQUIRED, "vt|getch",
     "tolvane-win: arrows, F1... send VT sequences (vt) or _getch codes (getch, the default; vt with --plain)", SET, set_keys,
     nullptr, nullptr, nullptr, words("vt getch")},
    {0, "no-erase", NONE, nullptr, "send no backspaces at start", SET, set_no_erase, nullptr, clear_no_erase,
     nullptr, NO_VALUES},
    {0, "plain", NONE, nullptr, "a terminal only: no file service, no reset, keys sent as typed", SET, set_plain,
     nullptr, clear_plain, nullptr, NO_VALUES},
    {0, "output-delay", REQUIRED, "MS", "wait MS ms after each byte sent to the board", SET, set_output_delay,
     nullptr, nullptr, nullptr, words("0 1 5 10 20 50")},
    {0, "output-line-delay", REQUIRED, "MS", "wait MS ms after each CR sent to the board", SET,
     set_output_line_delay, nullptr, nullptr, nullptr, words("0 10 50 100 200")},
    {0, "dtr", REQUIRED, "on|off", "hold DTR on or off", SET, set_dtr, nullptr, nullptr, nullptr, words("on off")},
    {0, "rts", REQUIRED, "on|off", "hold RTS on or off", SET, set_rts, nullptr, nullptr, nullptr, words("on off")},
    {0, "pulse", REQUIRED, "dtr|rts[:MS]", "reset the board: the line on for MS ms (100)", SET, set_pulse, nullptr,
     nullptr, nullptr, words("dtr rts")},
    {0, "databits", REQUIRED, "5|6|7|8", "data bits (8)", SET, set_data_bits, nullptr, nullptr, nullptr,
     words("5 6 7 8")},
    {0, "parity", REQUIRED, "none|odd|even|mark|space", "parity (none)", SET, set_parity, nullptr, nullptr, nullptr,
     words("none odd even mark space")},
    {0, "stopbits", REQUIRED, "1|2", "stop bits (1)", SET, set_stop_bits, nullptr, nullptr, nullptr, words("1 2")},
    {0, "flow", REQUIRED, "none|hard|soft", "flow control: none, RTS/CTS or XON/XOFF (none)", SET, set_flow, nullptr,
     nullptr, nullptr, words("none hard soft")},
    {0, "command-key", REQUIRED, "LETTER|none", "Ctrl and LETTER, then a key, is a command (t; ? lists them)", SET,
     set_command_key, nullptr, nullptr, nullptr, NO_VALUES},
    {0, "expect", REQUIRED, "RE", "end with status 0 once each such pattern matched, in order", SET, add_expect,
     always, nullptr, nullptr, NO_VALUES},
    {0, "fail", REQUIRED, "RE", "end with status 1 on a line that matches", SET, add_fail, always, nullptr, nullptr,
     NO_VALUES},
    {0, "send", REQUIRED, "TEXT", "send TEXT (\\r \\n \\xNN \\\\), after the --expect before it", SET,
     add_send, nullptr, nullptr, nullptr, NO_VALUES},
    {0, "ymodem", REQUIRED, "FILE", "send FILE by YMODEM, after the --expect before it", SET, add_ymodem, always,
     nullptr, nullptr, A_FILE},
    {0, "xmodem", REQUIRED, "FILE", "send FILE by XMODEM, after the --expect before it", SET, add_xmodem, always,
     nullptr, nullptr, A_FILE},
    {0, "timeout", REQUIRED, "SECONDS", "end with status 124 after SECONDS", SET, set_timeout, time_limited, nullptr,
     nullptr, NO_VALUES},
    {0, "config", REQUIRED, "FILE", "read the profiles from FILE", option_action::config, nullptr, nullptr, nullptr,
     nullptr, A_FILE},
    {0, "list", NONE, nullptr, "list the serial lines of this machine and the profiles", option_action::list,
     nullptr, nullptr, nullptr, nullptr, NO_VALUES},
    {'h', "help", NONE, nullptr, "this text", option_action::help, nullptr, nullptr, nullptr, nullptr, NO_VALUES},
    {0, "version", NONE, nullptr, "the program's version and build date", option_action::version, nullptr, nullptr,
     nullptr, nullptr, NO_VALUES},
};

const size_t OPTION_COUNT = sizeof OPTION_TABLE / sizeof OPTION_TABLE[0];

std::string option_help_line(const option_row& row) {
    constexpr size_t HELP_COLUMN = 30;
    std::string line = row.letter ? std::string("  -") + row.letter + (row.name ? ", " : "") : "      ";
    if (row.name) line += std::string("--") + row.name;
    if (row.arg_name) {
        const bool optional = row.arg == long_arg::optional;
        line += optional ? "[=" : " ";
        line += row.arg_name;
        if (optional) line += "]";
    }
    line += line.size() < HELP_COLUMN ? std::string(HELP_COLUMN - line.size(), ' ') : "  ";
    return line + row.help;
}

const option_row* option_named(const std::string& name) {
    for (const option_row& row : OPTION_TABLE)
        if (row.name && name == row.name) return &row;
    return nullptr;
}

}  // namespace tolvane
