// One terminal session's own state: the file service and the frame
// demultiplexer in front of it. Made by the entry, handed to the loop and
// from there to every part that needs it.
#pragma once

#include "fileservice/rpc.h"
#include "terminal/demux.h"

namespace tolvane {

struct session {
    file_service files;
    frame_demux demux;
};

}  // namespace tolvane
