#include "app/scan.h"

#include <cctype>
#include <string>
#include <vector>

#include "app/list.h"
#include "app/option_table.h"
#include "app/options.h"
#include "app/platform.h"
#include "app/profiles.h"
#include "base/console.h"
#include "net/url.h"

namespace tolvane {

namespace {

// Long options are told from letters by ids above the byte range.
constexpr int LONG_ID_BASE = 0x100;

// getopt's letters from the table, each in both cases: "qQrRc:C:...".
std::string letters() {
    std::string text;
    for (size_t i = 0; i < OPTION_COUNT; ++i) {
        const option_row& row = OPTION_TABLE[i];
        if (row.letter == 0) continue;
        const char* takes = row.arg == long_arg::required ? ":" : "";
        text += row.letter;
        text += takes;
        text += static_cast<char>(std::toupper(static_cast<unsigned char>(row.letter)));
        text += takes;
    }
    return text;
}

std::vector<long_option> long_options() {
    std::vector<long_option> options;
    for (size_t i = 0; i < OPTION_COUNT; ++i) {
        if (OPTION_TABLE[i].name) options.push_back({OPTION_TABLE[i].name, OPTION_TABLE[i].arg, LONG_ID_BASE + static_cast<int>(i)});
    }
    return options;
}

// The row an id from getopt or get_long_option stands for; null after a
// scanner error.
const option_row* row_of(int id) {
    if (id >= LONG_ID_BASE) return &OPTION_TABLE[id - LONG_ID_BASE];
    for (size_t i = 0; i < OPTION_COUNT; ++i) {
        if (OPTION_TABLE[i].letter != 0 && std::tolower(id) == OPTION_TABLE[i].letter) return &OPTION_TABLE[i];
    }
    return nullptr;
}

// A usage error of a long option, in the scanner's form.
int long_option_error(const char* argv0, const std::string& message, const char* name) {
    if (opterr) console_error("%s: %s -- --%s\n", argv0, message.c_str(), name);
    print_usage(argv0);
    return EXIT_USAGE;
}

void print_version() { console_print("tolvane %s (%s)\n", TOLVANE_VERSION, __DATE__); }

settings defaults() {
    settings s;
    s.line.device = platform_default_device;
    return s;
}

// Every option's line, as --help and the usage show them.
std::string option_lines() {
    std::string text;
    for (size_t i = 0; i < OPTION_COUNT; ++i) text += option_help_line(OPTION_TABLE[i]) + "\n";
    return text;
}

// A command word that names a line (there or not), or a URL, with no -c
// given: the picocom habit ("tolvane -b 115200 /dev/ttyUSB0"). Typed into
// the board it would do harm; said, it is put right at once.
bool line_among_the_words(const char* argv0, const settings& s) {
    if (s.words.empty()) return false;
    const std::string& word = s.words.front();
    if (net_url_scheme(word) == net_scheme::none && !platform_names_line(word)) return false;
    console_error("%s: %s is a line, not a word for the board: use -c %s\n", argv0, word.c_str(), word.c_str());
    print_usage(argv0);
    return true;
}

// One option given on the command line, kept to be given again over the
// profile.
struct given_option {
    const option_row* row;
    const char* arg;
};

// The settings from the defaults, [default], the profile and the command
// line, each over the one before: GO_ON, or 2 when -q came with an option
// that needs the terminal, from wherever each came. The file's sections
// were checked as it was read.
int settle(const char* argv0, const profiles& loaded, const config_section* profile,
           const std::vector<given_option>& given, settings* s) {
    settings settled = defaults();
    const char* watching_option = nullptr;  // the first option that needs the terminal
    for (const config_section* section : {default_section(loaded), profile}) {
        int line = 0;
        std::string why;
        if (section && !profile_apply(*section, &settled, &line, &why, &watching_option)) {
            console_error("%s: %s:%d: %s\n", argv0, loaded.path.c_str(), line, why.c_str());
            return EXIT_USAGE;
        }
    }
    for (const given_option& option : given) {
        if (profile && option.row == option_named("device")) continue;  // -c named the profile
        std::string message;
        option.row->apply(option.arg, &settled, &message);  // taken once already
        if (!watching_option && option.row->needs_terminal && option.row->needs_terminal(settled))
            watching_option = option.row->name;
    }
    settled.words = s->words;
    settled.line.network = net_url_scheme(settled.line.device) != net_scheme::none;
    *s = settled;
    // -q leaves before the target says anything.
    if (s->quit_after_send && watching_option) return long_option_error(argv0, "option cannot go with -q", watching_option);
    // A raw TCP line has no frame to set: the server's is in force.
    if (s->line.frame_given && net_url_bytes_only(s->line.device)) {
        console_error("%s: %s carries the bytes as they are: --databits, --parity, --stopbits and --flow need "
                      "rfc2217://\n",
                      argv0, s->line.device.c_str());
        print_usage(argv0);
        return EXIT_USAGE;
    }
    return GO_ON;
}

}  // namespace

// After a usage error, on standard error: the first lines as they always
// were, then every option.
void print_usage(const char* argv0) {
    console_error("%s -[opt] { commands to send }\n"
                  "opt:      c <com> communications device\n"
                  "          b <nnn> Baudrate\n"
                  "          q       quit, leave program.\n"
                  "Options:\n%s",
                  argv0, option_lines().c_str());
    console_error(platform_usage_example, argv0);
}

void print_help(const char* argv0) {
    console_print("Usage: %s [options] [command words...]\n"
                  "The command words go to the board after the reset, a space after each, a CR\n"
                  "after the last. Ctrl-Q ends the program.\n\nOptions:\n%s",
                  argv0, option_lines().c_str());
    console_print(platform_usage_example, argv0);
}

int scan_options(int argc, char* argv[], settings* s) {
    *s = defaults();
    const std::string letter_string = letters();
    const std::vector<long_option> longs = long_options();
    std::vector<given_option> given;
    const char* config_path = nullptr;
    bool list = false;

    for (;;) {
        const bool is_long = at_long_option(argc, argv);
        const int c = is_long ? get_long_option(argc, argv, longs.data(), static_cast<int>(longs.size()))
                              : getopt(argc, argv, letter_string.c_str());
        if (c == -1) break;
        const option_row* row = c == '?' ? nullptr : row_of(c);
        if (row == nullptr) {
            print_usage(argv[0]);
            return EXIT_USAGE;
        }
        switch (row->action) {
        case option_action::help: print_help(argv[0]); return 0;
        case option_action::version: print_version(); return 0;
        case option_action::list: list = true; continue;
        case option_action::config: config_path = optarg; continue;
        case option_action::set: break;
        }
        // "--timestamp 24hour-delta": the next word is the argument when it
        // is one, never a command word for the board.
        if (is_long && row->arg == long_arg::optional && optarg == nullptr && row->next_word_takes &&
            optind < argc && row->next_word_takes(argv[optind]))
            optarg = argv[optind++];
        // Taken here, where a mistake is told at its place on the command
        // line; given again over the profile once that is known.
        std::string message;
        if (!row->apply(optarg, s, &message)) {
            if (is_long) return long_option_error(argv[0], message, row->name);
            getopt_error(argv[0], message.c_str(), c);
            print_usage(argv[0]);
            return EXIT_USAGE;
        }
        given.push_back({row, optarg});
    }
    if (optind < argc) s->words.assign(argv + optind, argv + argc);

    profiles loaded;
    const std::string path = config_path ? std::string(config_path) : platform_config_path();
    if (!path.empty() && !profiles_load(argv[0], path, config_path != nullptr, &loaded)) return EXIT_USAGE;
    if (list) {
        list_serial_lines();
        list_profiles(loaded, defaults());
        return 0;
    }
    const config_section* profile = nullptr;
    bool device_given = false;
    for (const given_option& option : given) device_given = device_given || option.row == option_named("device");
    if (!device_given && line_among_the_words(argv[0], *s)) return EXIT_USAGE;
    if (device_given) {
        switch (classify_device_name(s->line.device, loaded)) {
        case device_name::profile: profile = profile_named(loaded, s->line.device); break;
        case device_name::unknown_profile: print_unknown_profile(argv[0], s->line.device, loaded); return EXIT_USAGE;
        case device_name::device: break;
        }
    }
    return settle(argv[0], loaded, profile, given, s);
}

}  // namespace tolvane
