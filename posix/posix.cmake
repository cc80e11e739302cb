# The POSIX program's lines (a tty, a socket), its wait and its console.
set(TOLVANE_POSIX_LINE_SOURCES
  posix/console.cpp
  posix/console_output.cpp
  posix/fd_transport.cpp
  posix/modem.cpp
  posix/serial_lines.cpp
  posix/signals.cpp
  posix/socket_line.cpp
  posix/speed.cpp
  posix/speed-linux.cpp
  posix/tty_frame.cpp
  posix/tty_line.cpp
  posix/wait.cpp)

# The POSIX program: a tty as the line, the poll wait, fnmatch search.
set(TOLVANE_POSIX_SOURCES
  app/main-posix.cpp
  app/platform-posix.cpp
  ${TOLVANE_SHARED_SOURCES}
  ${TOLVANE_POSIX_LINE_SOURCES}
  fileservice/confine-posix.cpp
  fileservice/dos_path.cpp
  fileservice/find-posix.cpp
  fileservice/names-posix.cpp
  fileservice/runtime_requests-posix.cpp)
# A thread of its own for name lookups (posix/socket_line.cpp).
find_package(Threads REQUIRED)
add_executable(tolvane ${TOLVANE_POSIX_SOURCES})
target_link_libraries(tolvane PRIVATE tolvane_link Threads::Threads)
install(TARGETS tolvane RUNTIME DESTINATION bin)

# Unit-tested here beside the shared code.
set(TOLVANE_PLATFORM_UNIT_SOURCES
  app/list.cpp
  posix/serial_lines.cpp
  posix/serial_lines_test.cpp
  tests/fake_sysfs.cpp
  app/platform-posix.cpp
  posix/console.cpp
  posix/console_output.cpp
  posix/fd_transport.cpp
  posix/modem.cpp
  posix/modem_test.cpp
  posix/speed.cpp
  posix/speed_test.cpp
  posix/tty_frame.cpp
  posix/tty_frame_test.cpp
  fileservice/confine-posix.cpp
  fileservice/confine-posix_test.cpp
  fileservice/dos_path.cpp
  fileservice/dos_path_test.cpp
  fileservice/find-posix.cpp
  fileservice/find-posix_test.cpp
  terminal/matcher-posix_test.cpp)
