#include "app/entry.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/options.h"
#include "base/console.h"
#include "base/host.h"
#include "base/session_log.h"
#include "base/settings.h"
#include "fileservice/confine.h"
#include "link/link.h"
#include "terminal/term_loop.h"

namespace tolvane {

namespace {

constexpr int RESET_BACKSPACES = 50;
// A usage error: nothing was sent, and a script must not think it was.
constexpr int EXIT_USAGE = 2;

void print_usage(const char* argv0) {
    console_print("%s -[opt] { commands to send }\n"
                  "opt:      c <com> communications device\n"
                  "          b <nnn> Baudrate\n"
                  "          q       quit, leave program.\n",
                  argv0);
    console_print(usage_example, argv0);
}

// The first word of a -c argument; empty when it holds none (an unset
// variable in -c "$PORT" must not open the default line).
std::string first_word(const char* text) {
    while (*text && std::isspace(static_cast<unsigned char>(*text))) ++text;
    const char* end = text;
    while (*end && !std::isspace(static_cast<unsigned char>(*end))) ++end;
    return std::string(text, end);
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

bool scan_options(int argc, char* argv[]) {
    rpc_trace = false;
    quit_after_send = false;
    service_root = nullptr;
    service_read_only = false;
    wait_for_line = false;
    session_log_name = nullptr;

    int c;
    while ((c = getopt(argc, argv, "qQrRpPwWc:C:b:B:d:D:l:L:")) != -1) {
        switch (c) {
        case 'b':
        case 'B':
            std::sscanf(optarg, "%ld", &baud_rate);
            break;
        case 'c':
        case 'C':
            device_name = first_word(optarg);
            if (device_name.empty()) {
                getopt_error(argv[0], "option requires an argument", c);
                print_usage(argv[0]);
                return false;
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
        default:
            print_usage(argv[0]);
            return false;
        }
    }
    return true;
}

int entry(int argc, char* argv[]) {
    if (!scan_options(argc, argv)) return EXIT_USAGE;
    // A log that cannot be written ends the program as a line that cannot be opened.
    if (session_log_name && !session_log_open(session_log_name, device_name.c_str())) {
        console_print("open: %s: %s\n", session_log_name, std::strerror(errno));
        return -1;
    }
    // A root that is no directory ends the program as a line that cannot be opened.
    if (!confine_open_root() || !host_line_open(device_name.c_str(), baud_rate)) return -1;
    send_reset();
    send_command_words(optind, argc, argv);

    if (!quit_after_send) {
        console_print("RS232 Tolvane %s on %s with %ld Baud\n", __DATE__, device_name.c_str(), baud_rate);
        print_files_line();
        console_print("\nExit with Ctrl-Q\n\n");
        term_loop();
    }
    host_line_close();
    return 0;
}

}  // namespace tolvane
