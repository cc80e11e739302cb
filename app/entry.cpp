#include "app/entry.h"

#include <cerrno>
#include <cstring>

#include "app/lend.h"
#include "app/scan.h"
#include "base/console.h"
#include "base/keyboard.h"
#include "base/line.h"
#include "base/session_log.h"
#include "base/settings.h"
#include "base/time_limit.h"
#include "base/wait.h"
#include "fileservice/rpc.h"
#include "net/rfc2217_line.h"
#include "net/url.h"
#include "terminal/commands.h"
#include "terminal/display.h"
#include "terminal/events.h"
#include "terminal/share.h"
#include "terminal/outgoing.h"
#include "terminal/rules.h"
#include "terminal/session.h"
#include "terminal/term_loop.h"
#include "terminal/watch.h"

namespace tolvane {

namespace {

constexpr int RESET_BACKSPACES = 50;

// Under the banner: a raw TCP line has the speed the server gives it.
void print_line_note(const std::string& device) {
    if (net_url_bytes_only(device))
        console_print("%s: speed and modem lines are the server's\n", device.c_str());
}

// Under the banner, when -d or -p narrows the file service.
void print_files_line(const service_settings& files) {
    if (files.root)
        console_print("Files: %s%s\n", files.root->c_str(), files.read_only ? " (read-only)" : "");
    else if (files.read_only)
        console_print("Files: read-only\n");
}

// -q with paced output: the bytes go at their moments before the line
// closes; the wait is on those moments, the line's room or a signal.
void send_paced_before_quit(session& s) {
    while (outgoing_held(s) > 0) {
        outgoing_send(s);
        if (outgoing_held(s) == 0 || line_gone(s.line)) return;
        wait_once(s.line, outgoing_line_full(s) ? WAIT_OUTPUT : 0u, outgoing_due(s));
    }
}

int run(int argc, char* argv[]) {
    settings s;
    const int scanned = scan_options(argc, argv, &s);
    if (scanned != GO_ON) return scanned;
    if (!s.lend_share.empty()) return lend_run(s.lend_share, s.words);
    display_start(s.view);
    keyboard_use(keys_in_effect(s.view, s.plain));
    time_limit_start(s.time_limit_seconds);
    // A log that cannot be written ends the program as a line that cannot be opened.
    if (!s.log_path.empty() && !session_log_open(s.log_path.c_str(), s.line.device.c_str())) {
        console_error("open: %s: %s\n", s.log_path.c_str(), std::strerror(errno));
        return -1;
    }
    // A root that is no directory ends the program as a line that cannot be opened.
    session terminal;
    commands_start(terminal, s);  // before the line: the waits for it take the commands too
    terminal.plain = s.plain;
    terminal.lend.flash_command = s.flash_command;
    outgoing_start(terminal, s.plain, s.output_delay_ms, s.output_line_delay_ms);
    // --plain serves no requests, but a YMODEM receive uses the -d directory.
    if (!rpc_start(terminal.files, s.files)) return -1;
    watch_start(terminal.watch, s.watch);
    terminal.share.line_port = rfc2217_line_port(terminal.line);
    // Sockets that cannot listen end the program as a line that cannot be opened.
    if (!s.quit_after_send && (!share_open(terminal, s.shares) ||
                               (!s.events_path.empty() && !events_open(terminal, s.events_path))))
        return -1;
    if (!line_open(terminal.line, s.line)) {
        // -w: the time-out counts while the line is waited for, too.
        if (!time_limit_passed()) return -1;
        term_say_timed_out(terminal);
        return EXIT_TIMED_OUT;
    }
    // unix: is another tolvane's share: the board is running and others type to it.
    if (!s.no_erase && !s.plain && net_url_scheme(s.line.device) != net_scheme::unix_socket) send_reset(terminal);
    send_command_words(terminal, s.words);
    while (watch_sends_due(terminal.watch) > 0) outgoing_put(terminal, watch_take_send(terminal.watch));
    if (s.quit_after_send) send_paced_before_quit(terminal);

    if (!s.quit_after_send) {
        // The rate in force, which the driver may have made a little off; a
        // raw TCP line has the server's, which tolvane does not know.
        if (net_url_bytes_only(s.line.device))
            console_print("RS232 Tolvane %s on %s\n", __DATE__, s.line.device.c_str());
        else
            console_print("RS232 Tolvane %s on %s with %ld Baud\n", __DATE__, s.line.device.c_str(), line_speed(terminal.line));
        print_line_note(s.line.device);
        if (s.plain)
            console_print("plain: a terminal only, no file service; keys go out as typed\n");
        else
            print_files_line(s.files);
        for (const std::string& share : s.shares) console_print("Shared at %s\n", share.c_str());
        console_print("\nExit with Ctrl-Q\n\n");
        term_loop(terminal, s.line.wait_for_line);
    }
    share_close(terminal);
    events_close(terminal);
    line_close(terminal.line);
    return 0;
}

}  // namespace

void send_reset(session& s) {
    for (int i = 0; i < RESET_BACKSPACES; ++i) outgoing_put(s, 0x08);
}

void send_command_words(session& s, const std::vector<std::string>& words) {
    if (words.empty()) return;
    for (const std::string& word : words) {
        for (unsigned char c : word) outgoing_put(s, c);
        outgoing_put(s, ' ');
    }
    outgoing_put(s, '\r');
}

int entry(int argc, char* argv[]) {
    const int status = run(argc, argv);
    console_end();  // the console at the start of a line, the log ended
    return status;
}

}  // namespace tolvane
