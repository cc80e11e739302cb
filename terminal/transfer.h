// A file sent or received by XMODEM or YMODEM (terminal/xmodem.h) inside
// the session: while it runs it has the board's byte stream (the
// demultiplexer hands it every byte), its output goes into the line's
// queue as the line takes it, and the loop ticks it; nothing waits here.
// A transfer is asked for by a command key (Ctrl-T y, x, Y) or by a CI
// step (--ymodem, --xmodem), whose end goes back to the watch.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "base/deadline.h"
#include "terminal/xmodem.h"

namespace tolvane {

struct session;

// The host's side of one transfer: the file sent, or the files received
// beneath the -d directory (names confined as the file service's are).
struct transfer_files : xm_reader, xm_writer {
    std::FILE* file = nullptr;
    std::string made;   // the name a received file got here
    std::vector<std::string> received;  // files received whole, not said yet
    long read(unsigned char* into, size_t count, std::string* why) override;
    bool create(const std::string& name, long long size, std::string* why) override;
    bool write(const unsigned char* bytes, size_t count, std::string* why) override;
    void finish(bool whole) override;
};

struct transfer_state {
    bool active = false;
    bool step = false;   // a CI step's: its end goes to the watch
    std::string label;   // "YMODEM u-boot.img"
    xm_transfer proto;
    transfer_files files;
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point shown;  // the progress line's last update
    bool progress_shown = false;
};

// Starts the transfer whose turn came (a CI step first, then a command);
// true while one runs.
bool transfer_take_over(session& s);
bool transfer_active(const session& s);
// The board's bytes while a transfer runs. Takes all of them until it
// ends; the rest after its end is the board's text.
size_t transfer_feed(session& s, const unsigned char* bytes, size_t count);
// Each turn of the loop: a transfer whose turn came starts; Esc cancels
// the one running; the time passes for it; its output goes to the line.
void transfer_turn(session& s);
// When the turn has something to do for the transfer; never without one.
deadline transfer_due(const session& s);
// The line went away, or the run ends: the other side gets CAN CAN.
void transfer_abandon(session& s, const char* why);

}  // namespace tolvane
