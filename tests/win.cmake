# End-to-end tests of tolvane-win: a Linux program that runs the cross-built
# tolvane-win.exe under Wine, its COM port on a pseudo-terminal. Built and run
# by `make test-windows` once the mingw preset has built the program; the
# label keeps them out of the plain native test run.
set(TOLVANE_WIN_BUILD_DIR "${CMAKE_SOURCE_DIR}/build/mingw" CACHE PATH "Build tree of the mingw preset")
find_program(TOLVANE_WINE NAMES wine64 wine PATHS /usr/lib/wine)
find_program(TOLVANE_WINESERVER NAMES wineserver PATHS /usr/lib/wine)

if(TOLVANE_WINE AND TOLVANE_WINESERVER)
  add_executable(win_e2e_tests EXCLUDE_FROM_ALL
    tests/win_harness.cpp
    tests/pty_io.cpp
    tests/e2e_win_startup_test.cpp
    tests/e2e_win_fileservice_test.cpp
    tests/e2e_win_confine_test.cpp
    tests/e2e_win_terminal_test.cpp
    tests/e2e_win_line_setup_test.cpp
    tests/e2e_win_flow_test.cpp
    tests/e2e_win_net_test.cpp
    tests/e2e_win_ways_out_test.cpp
    tests/e2e_win_console_test.cpp
    tests/e2e_win_patterns_test.cpp
    tests/e2e_win_share_test.cpp
    tests/e2e_win_transfer_test.cpp
    tests/net_servers.cpp)
  target_link_libraries(win_e2e_tests PRIVATE tolvane_client GTest::gtest_main util)
  add_dependencies(win_e2e_tests tolvane)  # beside which some tests hold it
  target_compile_definitions(win_e2e_tests PRIVATE
    TOLVANE_WIN_EXE="${TOLVANE_WIN_BUILD_DIR}/tolvane-win.exe"
    TOLVANE_BINARY="$<TARGET_FILE:tolvane>"
    TOLVANE_WINEPREFIX="${TOLVANE_WIN_BUILD_DIR}/wine"
    TOLVANE_WINE="${TOLVANE_WINE}"
    TOLVANE_WINESERVER="${TOLVANE_WINESERVER}"
    TOLVANE_SCRATCH_DIR="${CMAKE_BINARY_DIR}/scratch")
  # One CTest test: one wineserver for the whole run.
  add_test(NAME win_e2e_tests COMMAND win_e2e_tests)
  set_tests_properties(win_e2e_tests PROPERTIES LABELS wine TIMEOUT 300)
else()
  message(STATUS "Wine not found: no end-to-end tests of tolvane-win")
endif()
