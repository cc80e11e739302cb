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
#include <memory>
#include <string>

#include "base/deadline.h"
#include "terminal/xmodem.h"

namespace tolvane {

struct session;

// The host's side of one transfer (transfer.cpp): the file sent, or the
// files received beneath the -d directory.
struct transfer_files;
using transfer_files_ptr = std::unique_ptr<transfer_files, void (*)(transfer_files*)>;

struct transfer_state {
    bool active = false;
    bool step = false;   // a CI step's: its end goes to the watch
    std::string label;   // "YMODEM u-boot.img"
    xm_transfer proto;
    transfer_files_ptr files{nullptr, nullptr};  // made when one starts
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
