# The POSIX program's platform: its lines (a tty, a socket), its wait, its
# console and signals.
find_package(Threads REQUIRED)  # a thread of its own for name lookups (posix/socket_line.cpp)
add_library(tolvane_platform STATIC
  posix/child.cpp
  posix/console.cpp
  posix/console_output.cpp
  posix/endpoint.cpp
  posix/fd_transport.cpp
  posix/modem.cpp
  posix/serial_lines.cpp
  posix/signals.cpp
  posix/socket_line.cpp
  posix/speed.cpp
  posix/speed-linux.cpp
  posix/tty_frame.cpp
  posix/tty_line.cpp
  posix/unix_line.cpp
  posix/wait.cpp)
target_link_libraries(tolvane_platform PUBLIC tolvane_net tolvane_base Threads::Threads)

# The POSIX program: a tty as the line, the poll wait, fnmatch search.
add_executable(tolvane app/main-posix.cpp)
target_link_libraries(tolvane PRIVATE tolvane_app)
install(TARGETS tolvane RUNTIME DESTINATION bin)

# Unit-tested beside the shared code.
set(TOLVANE_PLATFORM_UNIT_TESTS
  posix/serial_lines_test.cpp
  tests/fake_sysfs.cpp
  posix/modem_test.cpp
  posix/speed_test.cpp
  posix/tty_frame_test.cpp
  fileservice/confine-posix_test.cpp
  fileservice/dos_path_test.cpp
  fileservice/find-posix_test.cpp
  terminal/matcher-posix_test.cpp)
