#include "terminal/lend.h"

#include "base/console.h"
#include "base/deadline.h"
#include "base/keys.h"
#include "base/line.h"
#include "base/wait.h"
#include "terminal/demux.h"
#include "terminal/events.h"
#include "terminal/outgoing.h"
#include "terminal/rules.h"
#include "terminal/session.h"
#include "terminal/share.h"

namespace tolvane {

namespace {

// How often the program and the line are looked at while lent.
constexpr int LEND_LOOK_MS = 100;

void lend_line(session& s, const std::string& name) {
    console_start_line();
    console_print("line lent to %s\n", name.c_str());
    demux_reset(s);  // nothing is in progress between requests; a read's data is given up
    outgoing_clear(s);
    line_lend(s.line);
    events_line(s, "lent");
    s.lend.lent = true;
    s.lend.done = false;
}

share_client* client_by_id(session& s, unsigned id) {
    for (share_client& c : s.share.clients)
        if (c.id == id && !c.gone) return &c;
    return nullptr;
}

void answer(session& s, share_client& c, const std::string& line) {
    if (line.compare(0, 5, "lend ") == 0 && line.size() > 5) {
        if (s.lend.lent || line_gone(s.line)) {
            share_send_to(c, "refused the line is not here\n");
            return;
        }
        lend_line(s, line.substr(5));
        s.lend.control_id = c.id;
        share_send_to(c, "lent " + line_settings_now(s.line).device + "\n");
    } else if (line == "back" && s.lend.lent && s.lend.control_id == c.id) {
        s.lend.done = true;
    } else {
        share_send_to(c, "refused unknown request\n");
    }
}

}  // namespace

void lend_look(session& s) {
    for (share_client& c : s.share.clients) {
        if (!c.control || c.gone) continue;
        for (std::string line; share_control_line(c, &line);) answer(s, c, line);
    }
    // A lender that went away is done with the line.
    if (s.lend.lent && s.lend.control_id != 0 && client_by_id(s, s.lend.control_id) == nullptr) s.lend.done = true;
    int status = 0;
    if (s.lend.flash && child_ended(s.lend.flash, &status)) {
        s.lend.flash = nullptr;
        s.lend.done = true;
        console_start_line();
        console_print("%s ended with status %d\n", s.lend.flash_command.c_str(), status);
    }
}

void lend_flash(session& s) {
    console_start_line();
    if (s.lend.flash_command.empty()) {
        console_print("no flash command (flash = COMMAND in the profile)\n");
        return;
    }
    if (s.lend.lent || line_gone(s.line)) {
        console_print("the line is not here to lend\n");
        return;
    }
    const std::string device = line_settings_now(s.line).device;
    lend_line(s, s.lend.flash_command);
    s.lend.control_id = 0;
    std::string why;
    s.lend.flash = child_start_shell(s.lend.flash_command, device, &why);
    if (s.lend.flash == nullptr) {
        console_print("%s: %s\n", s.lend.flash_command.c_str(), why.c_str());
        s.lend.done = true;
    }
}

void lend_wait(session& s) {
    while (!s.lend.done) {
        line_keys_without_line(s.line);
        wait_once(s.line, 0, deadline::in(LEND_LOOK_MS));
        if (quit_requested() || term_run_decided(s)) return;
        lend_look(s);
    }
    // Opened again as -w does: looked for until it is there.
    while (!line_reopen(s.line, true)) {
        line_keys_without_line(s.line);
        wait_once(s.line, 0, deadline::in(LEND_LOOK_MS));
        if (quit_requested() || term_run_decided(s)) return;
        lend_look(s);  // answers the control connections meanwhile
    }
    line_keys_without_line(s.line);
    s.lend.lent = false;
    console_start_line();
    console_print("line back\n");
    events_line(s, "back");
    if (share_client* c = client_by_id(s, s.lend.control_id)) share_send_to(*c, "back\n");
}

}  // namespace tolvane
