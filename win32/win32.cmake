# The Windows program's platform: its lines (a COM port, a socket, both
# overlapped), its wait and its console.
add_library(tolvane_platform STATIC
  win32/child.cpp
  win32/com_line.cpp
  win32/console.cpp
  win32/console_keys.cpp
  win32/console_output.cpp
  win32/console_text.cpp
  win32/endpoint.cpp
  win32/modem.cpp
  win32/overlapped_line.cpp
  win32/serial_lines.cpp
  win32/socket.cpp
  win32/socket_line.cpp
  win32/unix_line.cpp
  win32/wait.cpp)
target_link_libraries(tolvane_platform PUBLIC tolvane_net tolvane_base setupapi cfgmgr32 ws2_32)

# The Windows program: a COM port as the line, the C run-time's wildcard
# search; its manifest makes UTF-8 its ANSI code page.
enable_language(RC)
file(WRITE "${CMAKE_BINARY_DIR}/tolvane-win.rc"
  "1 24 \"${CMAKE_CURRENT_LIST_DIR}/tolvane-win.manifest\"\n")  # the program's manifest
set_property(SOURCE "${CMAKE_BINARY_DIR}/tolvane-win.rc" APPEND PROPERTY OBJECT_DEPENDS
  "${CMAKE_CURRENT_LIST_DIR}/tolvane-win.manifest")
add_executable(tolvane-win "${CMAKE_BINARY_DIR}/tolvane-win.rc" app/main-win32.cpp)
target_link_libraries(tolvane-win PRIVATE tolvane_app shell32)
target_link_options(tolvane-win PRIVATE -static)
install(TARGETS tolvane-win RUNTIME DESTINATION bin)

# Unit-tested under Wine beside the shared code.
set(TOLVANE_PLATFORM_UNIT_TESTS
  win32/com_line_test.cpp
  win32/serial_lines_test.cpp
  win32/console_output_test.cpp
  win32/console_test.cpp
  win32/console_text_test.cpp
  win32/socket_test.cpp
  fileservice/confine-win32_test.cpp
  fileservice/find-win32_test.cpp
  fileservice/wide_names-win32_test.cpp)

# The floors make bench holds tolvane-win to under Wine (bench/): a bare
# file-service host on a COM port, and a bare 16 KB console writer.
add_executable(win_bare_host bench/win_bare_host.cpp bench/bare_requests.cpp)
target_link_libraries(win_bare_host PRIVATE tolvane_client)
add_executable(win_console_writer bench/win_console_writer.cpp)
foreach(floor win_bare_host win_console_writer)
  target_link_options(${floor} PRIVATE -static)
endforeach()
