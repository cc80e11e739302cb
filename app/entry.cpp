#include "app/entry.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/list.h"
#include "app/options.h"
#include "base/console.h"
#include "base/host.h"
#include "base/session_log.h"
#include "base/settings.h"
#include "base/time_limit.h"
#include "fileservice/confine.h"
#include "link/link.h"
#include "net/url.h"
#include "terminal/display.h"
#include "terminal/term_loop.h"
#include "terminal/watch.h"

namespace tolvane {

namespace {

constexpr int RESET_BACKSPACES = 50;
// A usage error: nothing was sent, and a script must not think it was.
constexpr int EXIT_USAGE = 2;
// What scan_options returns when the program goes on to open the line.
constexpr int GO_ON = -1;

// The letters, scanned as they always were; upper and lower case alike.
constexpr char LETTERS[] = "qQrRpPwWhHtTc:C:b:B:d:D:l:L:";

// Long options that have no letter get ids above the byte range.
enum long_id : int {
    OPT_HELP = 0x100,
    OPT_VERSION,
    OPT_LIST,
    OPT_DTR,
    OPT_RTS,
    OPT_PULSE,
    OPT_MAP,
    OPT_TIMESTAMP,
    OPT_HEX,
    OPT_LOCAL_ECHO,
    OPT_EXPECT,
    OPT_FAIL,
    OPT_SEND,
    OPT_TIMEOUT,
};

constexpr long_option LONG_OPTIONS[] = {
    {"help", long_arg::none, OPT_HELP},
    {"version", long_arg::none, OPT_VERSION},
    {"list", long_arg::none, OPT_LIST},
    {"dtr", long_arg::required, OPT_DTR},
    {"rts", long_arg::required, OPT_RTS},
    {"pulse", long_arg::required, OPT_PULSE},
    {"map", long_arg::required, OPT_MAP},
    {"timestamp", long_arg::optional, OPT_TIMESTAMP},
    {"hex", long_arg::none, OPT_HEX},
    {"local-echo", long_arg::none, OPT_LOCAL_ECHO},
    {"expect", long_arg::required, OPT_EXPECT},
    {"fail", long_arg::required, OPT_FAIL},
    {"send", long_arg::required, OPT_SEND},
    {"timeout", long_arg::required, OPT_TIMEOUT},
};

// --timeout takes up to this many seconds (about 30 years).
constexpr double TIME_LIMIT_MAX_SECONDS = 1e9;

// The usage's first lines stay as they always were; every option follows,
// one line each.
void print_usage(const char* argv0) {
    console_print("%s -[opt] { commands to send }\n"
                  "opt:      c <com> communications device\n"
                  "          b <nnn> Baudrate\n"
                  "          q       quit, leave program.\n",
                  argv0);
    console_print("          r       trace each file request\n"
                  "          d <dir> serve the target only the files beneath dir\n"
                  "          p       serve the files read-only\n"
                  "          w       wait for the line, at start and when it goes away\n"
                  "          l <file> append what the console shows to file\n"
                  "          h       this text (also --help)\n"
                  "      --version   the program's version and build date\n"
                  "      --list      list the serial lines of this machine\n"
                  "      --dtr on|off  hold DTR on or off\n"
                  "      --rts on|off  hold RTS on or off\n"
                  "      --pulse dtr|rts[:MS]  reset the board: the line on for MS ms (100)\n");
    console_print("          t       stamp each line of target text (also --timestamp)\n"
                  "      --timestamp=FORMAT  24hour, 24hour-start, 24hour-delta or iso8601\n"
                  "      --map FLAGS  INLCRNL,ICRNL,IGNCR for target text, OCRNL,ONLCRNL for keys\n"
                  "      --hex       show target bytes in hex, 16 to a line\n"
                  "      --local-echo  show the keys as they are sent\n");
    console_print("      --expect <re>  end with status 0 once each such pattern matched, in order\n"
                  "      --fail <re>    end with status 1 on a line that matches\n"
                  "      --send <text>  send text (\\r \\n \\xNN \\\\), after the --expect before it\n"
                  "      --timeout <s>  end with status 124 after s seconds\n");
    console_print(usage_example, argv0);
}

void print_version() { console_print("tolvane %s (%s)\n", TOLVANE_VERSION, __DATE__); }

// -b takes a whole number of Baud and nothing else: "fast" or "115k" must
// not run at some other speed.
bool parse_baud(const char* text, long* baud) {
    if (*text < '0' || *text > '9') return false;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || errno == ERANGE || value <= 0) return false;
    *baud = value;
    return true;
}

// --dtr and --rts take on or off.
bool parse_level(const char* text, line_level* level) {
    if (std::strcmp(text, "on") == 0) *level = line_level::on;
    else if (std::strcmp(text, "off") == 0) *level = line_level::off;
    else return false;
    return true;
}

// The longest reset pulse: a minute is already far beyond any board's.
constexpr long PULSE_MS_MAX = 60000;

// --pulse takes dtr or rts, and :MS with a whole number of milliseconds.
bool parse_pulse(const char* text, modem_line* line, int* ms) {
    const char* colon = std::strchr(text, ':');
    const std::string name = colon ? std::string(text, colon) : std::string(text);
    if (name == "dtr") *line = modem_line::dtr;
    else if (name == "rts") *line = modem_line::rts;
    else return false;
    if (colon == nullptr) return true;
    const char* digits = colon + 1;
    if (*digits < '0' || *digits > '9') return false;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(digits, &end, 10);
    if (*end != '\0' || errno == ERANGE || value <= 0 || value > PULSE_MS_MAX) return false;
    *ms = static_cast<int>(value);
    return true;
}

// --timeout: whole seconds or a decimal ("60", "2.5", ".5"); 0 is no limit.
bool parse_seconds(const char* text, double* seconds) {
    const char* p = text;
    while (*p >= '0' && *p <= '9') ++p;
    const bool whole = p != text;
    if (*p == '.') {
        const char* fraction = ++p;
        while (*p >= '0' && *p <= '9') ++p;
        if (!whole && p == fraction) return false;
    } else if (!whole) {
        return false;
    }
    if (*p != '\0') return false;
    const double value = std::strtod(text, nullptr);
    if (value > TIME_LIMIT_MAX_SECONDS) return false;
    *seconds = value;
    return true;
}

// A usage error of a long option, in the scanner's form.
int long_option_error(const char* argv0, const std::string& message, const char* name) {
    if (opterr) console_print("%s: %s -- --%s\n", argv0, message.c_str(), name);
    print_usage(argv0);
    return EXIT_USAGE;
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
// a device path. False after printing why.
bool check_line_name(const char* argv0, int letter) {
    if (net_url_scheme(device_name) == net_scheme::none) return true;
    NetUrl url;
    std::string why;
    if (net_url_parse(device_name, &url, &why)) return true;
    getopt_error(argv0, (device_name + ": " + why).c_str(), letter);
    return false;
}

// Under the banner: a raw TCP line has the speed the server gives it.
void print_line_note() {
    if (net_url_scheme(device_name) == net_scheme::tcp)
        console_print("%s: speed and modem lines are the server's\n", device_name.c_str());
}

// Under the banner, when -d or -p narrows the file service.
void print_files_line() {
    if (service_root) console_print("Files: %s%s\n", service_root, service_read_only ? " (read-only)" : "");
    else if (service_read_only) console_print("Files: read-only\n");
}

}  // namespace

void send_reset() {
    for (int i = 0; i < RESET_BACKSPACES; ++i) link_put(0x08);
}

void send_command_words(int first, int argc, char* const argv[]) {
    if (first >= argc) return;
    for (int i = first; i < argc; ++i) {
        for (const char* p = argv[i]; *p; ++p) link_put(static_cast<unsigned char>(*p));
        link_put(' ');
    }
    link_put('\r');
}

int scan_options(int argc, char* argv[]) {
    rpc_trace = false;
    quit_after_send = false;
    service_root = nullptr;
    service_read_only = false;
    wait_for_line = false;
    session_log_name = nullptr;
    dtr_level = line_level::keep;
    rts_level = line_level::keep;
    pulse_line = modem_line::none;
    pulse_ms = 100;
    display_maps = 0;
    display_stamps = stamp_format::none;
    display_hex = false;
    display_local_echo = false;
    time_limit_seconds = 0;
    watch_clear();
    const char* watching_option = nullptr;  // the first option that needs the terminal
    std::string reason;

    for (;;) {
        const int c = at_long_option(argc, argv)
                          ? get_long_option(argc, argv, LONG_OPTIONS, sizeof LONG_OPTIONS / sizeof LONG_OPTIONS[0])
                          : getopt(argc, argv, LETTERS);
        if (c == -1) break;
        switch (c) {
        case 'b':
        case 'B':
            if (!parse_baud(optarg, &baud_rate)) {
                getopt_error(argv[0], "option needs a whole number of Baud", c);
                print_usage(argv[0]);
                return EXIT_USAGE;
            }
            break;
        case 'c':
        case 'C':
            device_name = first_word(optarg);
            if (device_name.empty()) {
                getopt_error(argv[0], "option requires an argument", c);
                print_usage(argv[0]);
                return EXIT_USAGE;
            }
            if (!check_line_name(argv[0], c)) {
                print_usage(argv[0]);
                return EXIT_USAGE;
            }
            break;
        case 'q':
        case 'Q':
            quit_after_send = true;
            break;
        case 'r':
        case 'R':
            rpc_trace = true;
            break;
        case 'd':
        case 'D':
            service_root = optarg;
            break;
        case 'p':
        case 'P':
            service_read_only = true;
            break;
        case 'w':
        case 'W':
            wait_for_line = true;
            break;
        case 'l':
        case 'L':
            session_log_name = optarg;
            break;
        case 'h':
        case 'H':
        case OPT_HELP:
            print_usage(argv[0]);
            return 0;
        case OPT_VERSION:
            print_version();
            return 0;
        case OPT_LIST:
            return list_serial_lines();
        case OPT_DTR:
        case OPT_RTS:
            if (!parse_level(optarg, c == OPT_DTR ? &dtr_level : &rts_level)) {
                return long_option_error(argv[0], "option needs on or off", c == OPT_DTR ? "dtr" : "rts");
            }
            break;
        case OPT_PULSE:
            if (!parse_pulse(optarg, &pulse_line, &pulse_ms)) {
                return long_option_error(argv[0], "option needs dtr or rts[:MS], MS up to 60000", "pulse");
            }
            break;
        case 't':
        case 'T':
            display_stamps = stamp_format::time_of_day;
            break;
        case OPT_TIMESTAMP:
            if (optarg == nullptr) {
                display_stamps = stamp_format::time_of_day;
            } else if (!display_parse_stamp_format(optarg, &display_stamps)) {
                return long_option_error(argv[0], "option needs 24hour, 24hour-start, 24hour-delta or iso8601", "timestamp");
            }
            break;
        case OPT_MAP:
            if (!display_parse_maps(optarg, &display_maps)) {
                return long_option_error(argv[0], "option needs INLCRNL, ICRNL, IGNCR, OCRNL or ONLCRNL", "map");
            }
            break;
        case OPT_HEX:
            display_hex = true;
            break;
        case OPT_LOCAL_ECHO:
            display_local_echo = true;
            break;
        case OPT_EXPECT:
        case OPT_FAIL:
            if (!(c == OPT_EXPECT ? watch_add_expect(optarg, &reason) : watch_add_fail(optarg, &reason)))
                return long_option_error(argv[0], "bad pattern (" + reason + ")", c == OPT_EXPECT ? "expect" : "fail");
            if (!watching_option) watching_option = c == OPT_EXPECT ? "expect" : "fail";
            break;
        case OPT_SEND:
            if (!watch_add_send(optarg)) return long_option_error(argv[0], "option has an unknown escape", "send");
            break;
        case OPT_TIMEOUT:
            if (!parse_seconds(optarg, &time_limit_seconds))
                return long_option_error(argv[0], "option needs a number of seconds", "timeout");
            if (!watching_option && time_limit_seconds > 0) watching_option = "timeout";
            break;
        default:
            print_usage(argv[0]);
            return EXIT_USAGE;
        }
    }
    // -q leaves before the target says anything.
    if (quit_after_send && watching_option) return long_option_error(argv[0], "option cannot go with -q", watching_option);
    return GO_ON;
}

namespace {

int run(int argc, char* argv[]) {
    const int scanned = scan_options(argc, argv);
    if (scanned != GO_ON) return scanned;
    display_start();
    time_limit_start();
    // A log that cannot be written ends the program as a line that cannot be opened.
    if (session_log_name && !session_log_open(session_log_name, device_name.c_str())) {
        console_print("open: %s: %s\n", session_log_name, std::strerror(errno));
        return -1;
    }
    // A root that is no directory ends the program as a line that cannot be opened.
    if (!confine_open_root()) return -1;
    if (!host_line_open(device_name.c_str(), baud_rate)) return -1;
    send_reset();
    send_command_words(optind, argc, argv);
    watch_begin();
    while (watch_sends_due() > 0) link_put(watch_take_send());

    if (!quit_after_send) {
        console_print("RS232 Tolvane %s on %s with %ld Baud\n", __DATE__, device_name.c_str(), baud_rate);
        print_line_note();
        print_files_line();
        console_print("\nExit with Ctrl-Q\n\n");
        term_loop();
    }
    host_line_close();
    return 0;
}

}  // namespace

int entry(int argc, char* argv[]) {
    const int status = run(argc, argv);
    console_end();  // the console at the start of a line, the log ended
    return status;
}

}  // namespace tolvane
