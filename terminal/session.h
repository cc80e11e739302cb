// One terminal session's own state: the line, the file service and the
// frame demultiplexer in front of it, the command keys, the paced output.
// Made by the entry, handed to the loop and from there to every part that
// needs it.
#pragma once

#include "base/keys.h"
#include "base/line.h"
#include "fileservice/rpc.h"
#include "terminal/commands.h"
#include "terminal/demux.h"
#include "terminal/events.h"
#include "terminal/lend.h"
#include "terminal/outgoing.h"
#include "terminal/share.h"
#include "terminal/transfer.h"
#include "terminal/watch.h"

namespace tolvane {

struct session {
    // First: the parts below point at them.
    line_state line;
    key_queue keys;
    file_service files;
    frame_demux demux;
    // A file by XMODEM or YMODEM: while it runs it has the byte stream.
    transfer_state transfer;
    // --expect, --fail, --send and the transfer steps: the text matched
    // against them and the texts due.
    watch_state watch;
    // The status the target exited with, for a run that ends with it; -1 none.
    int board_status = -1;
    // --plain: a terminal only. Every byte from the board is text (STX, ETX
    // and DLE too) and no request is ever begun, so nothing is answered.
    bool plain = false;
    // --share's listeners and clients, --events' readers, and the wait's
    // look at them (it points at this session: a session stays put).
    share_state share;
    events_state events;
    lend_state lend;
    session_party party{*this};
    commands_state commands;
    outgoing_state outgoing;

    // The file service's replies go to this session's line; its waits read
    // keys into this session's queue.
    session() {
        files.line = &line;
        line.watch.keys = &keys;
    }
    session(const session&) = delete;
    session& operator=(const session&) = delete;
};

}  // namespace tolvane
