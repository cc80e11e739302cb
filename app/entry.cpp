#include "app/entry.h"

#include <cstdio>
#include <cstring>

#include "app/host.h"
#include "app/options.h"
#include "app/settings.h"
#include "fileservice/confine.h"
#include "link/link.h"

namespace tolvane {

namespace {

constexpr int RESET_BACKSPACES = 50;

void print_usage(const char* argv0) {
    std::printf("%s -[opt] { commands to send }\n"
                "opt:      c <com> communications device\n"
                "          b <nnn> Baudrate\n"
                "          q       quit, leave program.\n",
                argv0);
    std::printf(usage_example, argv0);
}

// Under the banner, when -d or -p narrows the file service.
void print_files_line() {
    if (service_root) std::printf("Files: %s%s\n", service_root, service_read_only ? " (read-only)" : "");
    else if (service_read_only) std::printf("Files: read-only\n");
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

int entry(int argc, char* argv[]) {
    rpc_trace = false;
    quit_after_send = false;
    service_root = nullptr;
    service_read_only = false;

    int c;
    while ((c = getopt(argc, argv, "qQrRpPc:C:b:B:d:D:")) != -1) {
        switch (c) {
        case 'b':
        case 'B':
            std::sscanf(optarg, "%ld", &baud_rate);
            break;
        case 'c':
        case 'C':
            // Only the first word is taken, and never more than the buffer holds.
            std::sscanf(optarg, "%79s", device_name);
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
        default:
            print_usage(argv[0]);
            return 0;
        }
    }

    // A root that is no directory ends the program as a line that cannot be opened.
    if (!confine_open_root() || !host_line_open(device_name, baud_rate)) {
        std::fflush(stdout);
        return -1;
    }
    send_reset();
    send_command_words(optind, argc, argv);

    if (!quit_after_send) {
        std::printf("RS232 Tolvane %s on %s with %ld Baud\n", __DATE__, device_name, baud_rate);
        print_files_line();
        std::printf("\nExit with Ctrl-Q\n\n");
        std::fflush(stdout);
        term_loop();
    }
    host_line_close();
    std::fflush(stdout);
    return 0;
}

}  // namespace tolvane
