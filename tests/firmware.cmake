# The client library as firmware uses it: cross-compiled for Cortex-M (size
# and dependencies), and the example board in QEMU against the real tolvane.
# All skip, saying why, where the Arm compiler, newlib or QEMU is not installed.
add_test(NAME client_library_fits_small_firmware
  COMMAND sh ${CMAKE_SOURCE_DIR}/tests/client_size_test.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/client-size)
set_tests_properties(client_library_fits_small_firmware PROPERTIES
  LABELS firmware SKIP_RETURN_CODE 77 TIMEOUT 60)

add_test(NAME qemu_example_board_uses_host_files
  COMMAND sh ${CMAKE_SOURCE_DIR}/tests/qemu_example_test.sh ${CMAKE_SOURCE_DIR} $<TARGET_FILE:tolvane>
          ${CMAKE_BINARY_DIR}/qemu-example)
set_tests_properties(qemu_example_board_uses_host_files PROPERTIES
  LABELS "firmware;qemu" SKIP_RETURN_CODE 77 TIMEOUT 90)

# The example board's test runner as a CI job runs it: statuses and report.
add_test(NAME qemu_board_tests_in_ci
  COMMAND sh ${CMAKE_SOURCE_DIR}/tests/qemu_ci_test.sh ${CMAKE_SOURCE_DIR} $<TARGET_FILE:tolvane>
          ${CMAKE_BINARY_DIR}/qemu-ci)
set_tests_properties(qemu_board_tests_in_ci PROPERTIES
  LABELS "firmware;qemu" SKIP_RETURN_CODE 77 TIMEOUT 300)

# The newlib firmware: fopen, fprintf, printf... unchanged on host files
# (client/hostfs_newlib.c); the files checked on the host byte for byte.
add_test(NAME qemu_newlib_board_uses_host_files
  COMMAND sh ${CMAKE_SOURCE_DIR}/tests/qemu_newlib_test.sh ${CMAKE_SOURCE_DIR} $<TARGET_FILE:tolvane>
          ${CMAKE_BINARY_DIR}/qemu-newlib)
set_tests_properties(qemu_newlib_board_uses_host_files PROPERTIES
  LABELS "firmware;qemu" SKIP_RETURN_CODE 77 TIMEOUT 120)

# The test runner built with --coverage: its .gcda files onto the host
# (client/hostfs_gcov.c), read there by arm-none-eabi-gcov.
add_test(NAME qemu_board_coverage_onto_host
  COMMAND sh ${CMAKE_SOURCE_DIR}/tests/qemu_coverage_test.sh ${CMAKE_SOURCE_DIR} $<TARGET_FILE:tolvane>
          ${CMAKE_BINARY_DIR}/qemu-coverage)
set_tests_properties(qemu_board_coverage_onto_host PROPERTIES
  LABELS "firmware;qemu" SKIP_RETURN_CODE 77 TIMEOUT 120)
