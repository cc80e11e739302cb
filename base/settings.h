// What a run of tolvane is asked to do: one value, made by the option
// scan (app/options.h) and handed to the parts that need it: the line, the
// view, the watch and the file service. Nothing here changes once the
// line is open.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tolvane {

// --dtr, --rts: a modem line held at one level for the session; keep
// leaves it as the platform has it.
enum class line_level { keep, on, off };
enum class modem_line { none, dtr, rts };

// --parity and --flow, as the drivers know them: flow control by RTS/CTS
// (hard) or by XON/XOFF (soft).
enum class parity_kind { none, odd, even, mark, space };
enum class flow_kind { none, hard, soft };

// How the line is opened.
struct line_settings {
    std::string device;  // -c: a device the system takes, or a URL (net/url.h)
    bool network = false;  // device is a URL: set where the settings are settled
    long baud = 115200;  // -b
    bool wait_for_line = false;  // -w: a line not there, or gone, is waited for
    line_level dtr = line_level::keep;
    line_level rts = line_level::keep;
    // --pulse: a modem line on for pulse_ms right after the first open, to
    // reset the board; then off (or held on by --dtr on or --rts on).
    modem_line pulse_line = modem_line::none;
    int pulse_ms = 100;
    // The frame and the flow control: --databits, --parity, --stopbits,
    // --flow. frame_given: one of them was asked for, on the command line
    // or in a profile (a tcp:// line, which carries none, refuses them).
    int data_bits = 8;
    parity_kind parity = parity_kind::none;
    int stop_bits = 1;
    flow_kind flow = flow_kind::none;
    bool frame_given = false;
};

// --request-timeout's default: a second of silence before a request is
// whole makes it noise.
constexpr long long REQUEST_TIMEOUT_DEFAULT_MS = 1000;

// What the file service serves.
struct service_settings {
    bool trace = false;      // -r: a trace line per request
    std::optional<std::string> root;  // -d: the target's whole file system; none: the host's
    bool read_only = false;  // -p: requests that would change a file are refused
    // --request-timeout: silence inside a request this long makes it noise;
    // 0: a request waits for ever (a target stopped at a breakpoint).
    long long request_timeout_ms = REQUEST_TIMEOUT_DEFAULT_MS;
};

// --map flags. The first three change how the target's text is shown, the
// last two what a key sends.
enum : unsigned {
    MAP_INLCRNL = 1u << 0,  // LF from the target shown as CR LF
    MAP_ICRNL = 1u << 1,    // CR from the target shown as LF
    MAP_IGNCR = 1u << 2,    // CR from the target not shown
    MAP_OCRNL = 1u << 3,    // Enter (CR) sends LF
    MAP_ONLCRNL = 1u << 4,  // LF typed is sent as CR LF
};

// -t, --timestamp=FORMAT: what the stamp before each line of text shows.
enum class stamp_format {
    none,
    time_of_day,      // 24hour: [HH:MM:SS.mmm], local time
    since_start,      // 24hour-start: time since the program started
    since_last_line,  // 24hour-delta: time since the previous line began
    iso8601,          // iso8601: [YYYY-MM-DDTHH:MM:SS.mmm], local time
};

// --keys: what a Windows console's keys without a character (arrows, Home,
// F1...) send: the VT sequences a POSIX terminal gives (ESC [ A), or the
// two codes _getch gives (E0 48). A POSIX terminal's keys are its own.
enum class key_form { vt, getch };

// How the console shows the target's text and the keys typed.
struct view_settings {
    unsigned maps = 0;
    stamp_format stamps = stamp_format::none;
    bool hex = false;         // --hex
    bool local_echo = false;  // --local-echo
    unsigned char backspace = 0x08;  // --backspace: what the Backspace key sends
    // --command-key: the key that makes the next one a command (Ctrl-T);
    // NO_COMMAND_KEY: every key goes to the target.
    int command_key = 0x14;
    std::optional<key_form> keys;  // --keys; none: keys_in_effect decides
};

// The key form of a run: --keys, else the default, decided here only:
// the VT sequences for a plain terminal (--plain), else _getch's codes.
inline key_form keys_in_effect(const view_settings& view, bool plain) {
    return view.keys.value_or(plain ? key_form::vt : key_form::getch);
}

constexpr int NO_COMMAND_KEY = -1;

// --expect, --fail, --send, --ymodem, --xmodem, in command-line order
// (a transfer's text is the file's path).
struct watch_step {
    enum class kind { expect, fail, send, ymodem, xmodem };
    kind what;
    std::string text;
};

struct settings {
    line_settings line;
    service_settings files;
    view_settings view;
    std::vector<watch_step> watch;
    double time_limit_seconds = 0;  // --timeout; 0: no limit
    std::string log_path;           // -l; empty: no log
    std::vector<std::string> shares;  // --share: where other programs join the line
    std::string events_path;        // --events; empty: none
    std::string lend_share;         // --lend: ask this share for its line, run the words
    std::string flash_command;      // --flash: what Ctrl-T f lends the line to
    bool quit_after_send = false;   // -q
    bool no_erase = false;          // --no-erase: no backspaces at start
    // --plain: a terminal only: no file service, no backspaces at start,
    // keys and texts sent bare (0x02, 0x03, 0x10 without a DLE).
    bool plain = false;
    // --output-delay, --output-line-delay: ms after each byte sent, and
    // after each CR, for a board without flow control; 0: none.
    int output_delay_ms = 0;
    int output_line_delay_ms = 0;
    std::vector<std::string> words;  // the command words, sent after the reset
};

}  // namespace tolvane
