# End-to-end tests: the real tolvane over pseudo-terminals, the test
# playing the target (through the client library) and typing on the console.
add_library(tolvane_e2e_harness OBJECT tests/harness.cpp tests/pty_io.cpp)
target_compile_definitions(tolvane_e2e_harness PRIVATE
  TOLVANE_BINARY="$<TARGET_FILE:tolvane>"
  TOLVANE_WALK_BINARY="$<TARGET_FILE:tolvane-walk>"
  TOLVANE_SCRATCH_DIR="${CMAKE_BINARY_DIR}/scratch")

function(tolvane_add_e2e name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE tolvane_e2e_harness tolvane_client GTest::gtest_main util)
  add_dependencies(${name} tolvane)
  tolvane_add_gtest(${name})
endfunction()

tolvane_add_e2e(e2e_tests tests/e2e_startup_test.cpp tests/e2e_terminal_test.cpp tests/e2e_batched_io_test.cpp
  tests/e2e_keys_test.cpp
  tests/e2e_commands_test.cpp
  tests/e2e_profiles_test.cpp
  tests/e2e_reconnect_test.cpp tests/e2e_line_setup_test.cpp tests/fake_sysfs.cpp tests/line_speed.cpp
  tests/e2e_watch_test.cpp tests/e2e_stall_test.cpp tests/e2e_noise_test.cpp tests/e2e_plain_test.cpp
  tests/e2e_flood_test.cpp)

# tolvane as on a kernel without openat2: -d resolves names by its own walk.
# Its own build of the confinement, ahead of the library's.
add_executable(tolvane-walk app/main-posix.cpp fileservice/confine-posix.cpp)
target_compile_definitions(tolvane-walk PRIVATE TOLVANE_CONFINE_WALK_ONLY=true)
target_link_libraries(tolvane-walk PRIVATE tolvane_app)

# Files by XMODEM and YMODEM, lrzsz on the board's side.
tolvane_add_e2e(e2e_transfer_tests tests/e2e_transfer_test.cpp)

# The line over the network: a real ser2net and socat serving a pty.
tolvane_add_e2e(e2e_net_tests tests/e2e_net_test.cpp tests/e2e_hostile_server_test.cpp tests/net_servers.cpp)

# Other programs on the line: --share, -c unix:, --lend, --events.
tolvane_add_e2e(e2e_share_tests tests/e2e_served.cpp tests/e2e_share_test.cpp tests/e2e_share_rfc2217_test.cpp
  tests/line_speed.cpp tests/net_servers.cpp)
target_compile_definitions(e2e_share_tests PRIVATE TOLVANE_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

# The file service: the test as the target through the library.
tolvane_add_e2e(e2e_fileservice_tests
  tests/e2e_served.cpp
  tests/e2e_fileservice_test.cpp
  tests/e2e_find_test.cpp
  tests/e2e_faulty_target_test.cpp
  tests/e2e_confine_test.cpp
  tests/e2e_runtime_test.cpp)
add_dependencies(e2e_fileservice_tests tolvane-walk)

# What the console shows: maps, stamps, hex, echo; the ways out and the log.
tolvane_add_e2e(e2e_display_tests tests/e2e_display_test.cpp tests/e2e_served.cpp)

# The simulated board through the real tolvane, and make demo's script.
tolvane_add_e2e(e2e_sim_tests tests/e2e_sim_test.cpp)
target_compile_definitions(e2e_sim_tests PRIVATE
  TOLVANE_SIM_BINARY="$<TARGET_FILE:tolvane-sim>"
  TOLVANE_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
add_dependencies(e2e_sim_tests tolvane-sim)

# The man page renders cleanly.
add_test(NAME man_page_renders_cleanly
  COMMAND sh ${CMAKE_SOURCE_DIR}/tests/man_page_test.sh ${TOLVANE_MAN_PAGE} $<TARGET_FILE:tolvane>)

# The set-up scripts: install-deps.sh on a PATH of stand-ins; make install
# and make uninstall, which work on build/default and so are tested there.
add_test(NAME install_deps_installs_only_what_is_missing
  COMMAND sh ${CMAKE_SOURCE_DIR}/tests/install_deps_test.sh ${CMAKE_SOURCE_DIR}/scripts/install-deps.sh
          ${CMAKE_BINARY_DIR}/scratch/install-deps)
if(CMAKE_BINARY_DIR STREQUAL "${CMAKE_SOURCE_DIR}/build/default")
  add_test(NAME make_install_and_uninstall
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/install_test.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/scratch/install)
  set_tests_properties(make_install_and_uninstall PROPERTIES TIMEOUT 300)
endif()
