# End-to-end tests: the real tolvane over pseudo-terminals, the test
# playing the target (through the target library) and typing on the console.
add_executable(e2e_tests
  tests/harness.cpp
  tests/e2e_startup_test.cpp
  tests/e2e_terminal_test.cpp)
target_link_libraries(e2e_tests PRIVATE tolvane_target GTest::gtest_main util)
target_compile_definitions(e2e_tests PRIVATE
  TOLVANE_BINARY="$<TARGET_FILE:tolvane>"
  TOLVANE_SCRATCH_DIR="${CMAKE_BINARY_DIR}/scratch")
add_dependencies(e2e_tests tolvane)
tolvane_add_gtest(e2e_tests)

# The file service end to end: the test as the target through the library.
add_executable(e2e_fileservice_tests
  tests/harness.cpp
  tests/e2e_served.cpp
  tests/e2e_fileservice_test.cpp
  tests/e2e_find_test.cpp)
target_link_libraries(e2e_fileservice_tests PRIVATE tolvane_target GTest::gtest_main util)
target_compile_definitions(e2e_fileservice_tests PRIVATE
  TOLVANE_BINARY="$<TARGET_FILE:tolvane>"
  TOLVANE_SCRATCH_DIR="${CMAKE_BINARY_DIR}/scratch")
add_dependencies(e2e_fileservice_tests tolvane)
tolvane_add_gtest(e2e_fileservice_tests)

# The simulated board through the real tolvane, and make demo's script.
add_executable(e2e_sim_tests
  tests/harness.cpp
  tests/e2e_sim_test.cpp)
target_link_libraries(e2e_sim_tests PRIVATE tolvane_target GTest::gtest_main util)
target_compile_definitions(e2e_sim_tests PRIVATE
  TOLVANE_BINARY="$<TARGET_FILE:tolvane>"
  TOLVANE_SIM_BINARY="$<TARGET_FILE:tolvane-sim>"
  TOLVANE_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
  TOLVANE_SCRATCH_DIR="${CMAKE_BINARY_DIR}/scratch")
add_dependencies(e2e_sim_tests tolvane tolvane-sim)
tolvane_add_gtest(e2e_sim_tests)

# The man page renders cleanly and is installed with the program.
add_test(NAME man_page_renders_cleanly
  COMMAND sh ${CMAKE_SOURCE_DIR}/tests/man_page_test.sh ${CMAKE_SOURCE_DIR}/doc/tolvane.1 $<TARGET_FILE:tolvane>)
add_test(NAME install_puts_the_man_page_beside_the_program
  COMMAND sh ${CMAKE_SOURCE_DIR}/tests/install_test.sh ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/scratch/install
          ${CMAKE_SOURCE_DIR}/doc/tolvane.1)
