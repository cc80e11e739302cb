# The Windows program: a COM port as the line, the polling console loop,
# the C run-time's wildcard search.
add_executable(tolvane-win
  app/main-win32.cpp
  app/list-win32.cpp
  ${TOLVANE_SHARED_SOURCES}
  fileservice/confine-win32.cpp
  fileservice/find-win32.cpp
  fileservice/names-win32.cpp
  win32/com_port.cpp
  win32/modem.cpp
  win32/wait_start.cpp
  win32/line.cpp
  win32/host.cpp
  win32/net.cpp
  win32/socket.cpp
  terminal/term_loop-win32.cpp
  win32/console.cpp)
target_link_libraries(tolvane-win PRIVATE tolvane_link setupapi ws2_32)
target_link_options(tolvane-win PRIVATE -static)
install(TARGETS tolvane-win RUNTIME DESTINATION bin)

# Unit-tested under Wine beside the shared code.
set(TOLVANE_PLATFORM_UNIT_SOURCES
  win32/console.cpp
  fileservice/confine-win32.cpp
  fileservice/confine-win32_test.cpp
  fileservice/find-win32.cpp
  fileservice/find-win32_test.cpp
  win32/com_port.cpp
  win32/com_port_test.cpp
  win32/console_test.cpp
  win32/modem.cpp
  win32/socket.cpp
  win32/socket_test.cpp
  win32/net.cpp
  net/setup.cpp)
