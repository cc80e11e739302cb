#include "app/scan.h"

#include <cctype>
#include <string>
#include <vector>

#include "app/list.h"
#include "app/option_table.h"
#include "app/options.h"
#include "app/platform.h"
#include "base/console.h"

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
    if (opterr) console_print("%s: %s -- --%s\n", argv0, message.c_str(), name);
    print_usage(argv0);
    return EXIT_USAGE;
}

void print_version() { console_print("tolvane %s (%s)\n", TOLVANE_VERSION, __DATE__); }

settings defaults() {
    settings s;
    s.line.device = platform_default_device;
    return s;
}

}  // namespace

void print_usage(const char* argv0) {
    console_print("%s -[opt] { commands to send }\n", argv0);
    std::string text;
    for (size_t i = 0; i < OPTION_COUNT; ++i) {
        const option_row& row = OPTION_TABLE[i];
        text += i == 0 ? "opt:      " : row.letter ? "          " : "      ";
        text += row.usage;
        text += '\n';
    }
    console_print("%s", text.c_str());
    console_print(platform_usage_example, argv0);
}

int scan_options(int argc, char* argv[], settings* s) {
    *s = defaults();
    const std::string letter_string = letters();
    const std::vector<long_option> longs = long_options();
    const char* watching_option = nullptr;  // the first option that needs the terminal

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
        case option_action::help: print_usage(argv[0]); return 0;
        case option_action::version: print_version(); return 0;
        case option_action::list: return list_serial_lines();
        case option_action::set: break;
        }
        std::string message;
        if (!row->apply(optarg, s, &message)) {
            if (is_long) return long_option_error(argv[0], message, row->name);
            getopt_error(argv[0], message.c_str(), c);
            print_usage(argv[0]);
            return EXIT_USAGE;
        }
        if (!watching_option && row->needs_terminal && row->needs_terminal(*s)) watching_option = row->name;
    }
    // -q leaves before the target says anything.
    if (s->quit_after_send && watching_option) return long_option_error(argv[0], "option cannot go with -q", watching_option);
    if (optind < argc) s->words.assign(argv + optind, argv + argc);
    return GO_ON;
}

}  // namespace tolvane
