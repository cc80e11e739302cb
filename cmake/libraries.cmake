# One library per folder, each source named here once, linked in the layer
# order: app, terminal, the platform (posix/ or win32/, or the fuzz
# build's stand-ins), fileservice, net, base, link.

# The framing codec (link/), whose marks both programs share, and the
# client library, both defined once in client/: the file service as the
# target sees it, for firmware, the simulator and the tests. The programs
# queue their replies on the line themselves (fileservice/reply.h).
add_subdirectory(client)
add_library(tolvane_client ALIAS tolvane_hostfs)

# Settings, deadlines, the console's output path, the key queue, the line
# and its output queue, the ways out.
add_library(tolvane_base STATIC
  base/block_codec.cpp
  base/console.cpp
  base/deadline.cpp
  base/frame.cpp
  base/keys.cpp
  base/line.cpp
  base/modem.cpp
  base/output_queue.cpp
  base/serial_lines.cpp
  base/session_log.cpp
  base/restore.cpp
  base/session_stats.cpp
  base/stop.cpp
  base/text_format.cpp
  base/time_limit.cpp)
# Base's hooks into the platform: the console's writes, the wait, the
# transports (each platform's tolvane_platform, posix/ or win32/).
target_link_libraries(tolvane_base PUBLIC tolvane_link tolvane_platform)

# Telnet and RFC 2217 codecs, URLs, a network line's set-up.
add_library(tolvane_net STATIC net/net_line.cpp net/rfc2217_line.cpp net/rfc2217_server.cpp net/setup.cpp
  net/share_kind.cpp net/telnet.cpp net/url.cpp)
target_link_libraries(tolvane_net PUBLIC tolvane_base)

# The file service: requests parsed as they arrive, streams, search; the
# names and the confinement each platform's own way.
add_library(tolvane_fileservice STATIC
  fileservice/find_record.cpp
  fileservice/handles.cpp
  fileservice/open_mode.cpp
  fileservice/rpc.cpp
  fileservice/runtime_requests.cpp)
if(WIN32)
  target_sources(tolvane_fileservice PRIVATE
    fileservice/confine-win32.cpp fileservice/find-win32.cpp fileservice/names-win32.cpp
    fileservice/runtime_requests-win32.cpp fileservice/wide_names-win32.cpp)
else()
  target_sources(tolvane_fileservice PRIVATE
    fileservice/confine-posix.cpp fileservice/dos_path.cpp fileservice/find-posix.cpp fileservice/names-posix.cpp
    fileservice/runtime_requests-posix.cpp)
endif()
target_link_libraries(tolvane_fileservice PUBLIC tolvane_base)

# The session: the loop, the demultiplexer, the rules, the view, the watch
# and its patterns, the command keys.
add_library(tolvane_terminal STATIC
  terminal/commands.cpp
  terminal/demux.cpp
  terminal/display.cpp
  terminal/events.cpp
  terminal/lend.cpp
  terminal/matcher.cpp
  terminal/outgoing.cpp
  terminal/rules.cpp
  terminal/share.cpp
  terminal/term_loop.cpp
  terminal/transfer.cpp
  terminal/watch.cpp
  terminal/xmodem.cpp)
target_link_libraries(tolvane_terminal PUBLIC tolvane_fileservice tolvane_net tolvane_base)

# The entry and its option table, the config file and the profiles.
add_library(tolvane_app STATIC
  app/config_file.cpp
  app/entry.cpp
  app/lend.cpp
  app/list.cpp
  app/option_table.cpp
  app/options.cpp
  app/profiles.cpp
  app/scan.cpp)
if(WIN32)
  target_sources(tolvane_app PRIVATE app/platform-win32.cpp)
else()
  target_sources(tolvane_app PRIVATE app/platform-posix.cpp)
endif()
target_link_libraries(tolvane_app PUBLIC tolvane_terminal tolvane_platform)
