# make bench: the real tolvane on pseudo-terminals beside picocom, cat and
# lrzsz, with the benchmark as the target through the client library.
add_executable(tolvane-bench
  bench/bare_host.cpp
  bench/file_service.cpp
  bench/lrzsz.cpp
  bench/main.cpp
  bench/network.cpp
  bench/procs.cpp
  bench/stats.cpp
  bench/table.cpp
  bench/target_line.cpp
  bench/terminals.cpp
  tests/net_servers.cpp)
target_link_libraries(tolvane-bench PRIVATE tolvane_client util)
target_compile_definitions(tolvane-bench PRIVATE
  TOLVANE_BINARY="$<TARGET_FILE:tolvane>"
  BENCH_SCRATCH_DIR="${CMAKE_BINARY_DIR}/scratch/bench")
add_dependencies(tolvane-bench tolvane)

# A smoke run with tiny sizes, so the benchmark cannot rot; no timing judged.
if(TOLVANE_TESTS)
  add_test(NAME bench_runs_and_prints_its_table
    COMMAND sh ${CMAKE_SOURCE_DIR}/bench/smoke_test.sh $<TARGET_FILE:tolvane-bench> ${CMAKE_BINARY_DIR}/scratch/bench-smoke)
  set_tests_properties(bench_runs_and_prints_its_table PROPERTIES TIMEOUT 120)
endif()
