# make bench: the real tolvane on pseudo-terminals beside picocom, cat and
# lrzsz, with the benchmark as the target through the client library.
add_executable(tolvane-bench
  bench/bare_host.cpp
  bench/bare_requests.cpp
  bench/file_service.cpp
  bench/lrzsz.cpp
  bench/main.cpp
  bench/network.cpp
  bench/piped.cpp
  bench/procs.cpp
  bench/share_reader.cpp
  bench/stats.cpp
  bench/table.cpp
  bench/target_line.cpp
  bench/terminals.cpp
  bench/wine.cpp
  bench/wine_floors.cpp
  tests/net_servers.cpp)
target_link_libraries(tolvane-bench PRIVATE tolvane_client util)
# tolvane-win as the mingw preset builds it, under Wine in a prefix of the
# benchmark's own (made on its first run); its rows show as missing where
# Wine or the program is not there.
find_program(TOLVANE_WINE NAMES wine64 wine PATHS /usr/lib/wine)
find_program(TOLVANE_WINESERVER NAMES wineserver PATHS /usr/lib/wine)
set(BENCH_WINE wine)
set(BENCH_WINESERVER wineserver)
if(TOLVANE_WINE AND TOLVANE_WINESERVER)
  set(BENCH_WINE ${TOLVANE_WINE})
  set(BENCH_WINESERVER ${TOLVANE_WINESERVER})
endif()
target_compile_definitions(tolvane-bench PRIVATE
  TOLVANE_BINARY="$<TARGET_FILE:tolvane>"
  TOLVANE_WIN_EXE="${CMAKE_SOURCE_DIR}/build/mingw/tolvane-win.exe"
  BENCH_WINE="${BENCH_WINE}"
  BENCH_WINESERVER="${BENCH_WINESERVER}"
  BENCH_WINEPREFIX="${CMAKE_BINARY_DIR}/bench-wine"
  BENCH_SCRATCH_DIR="${CMAKE_BINARY_DIR}/scratch/bench")
add_dependencies(tolvane-bench tolvane)

# A smoke run with tiny sizes, so the benchmark cannot rot; no timing judged.
if(TOLVANE_TESTS)
  add_test(NAME bench_runs_and_prints_its_table
    COMMAND sh ${CMAKE_SOURCE_DIR}/bench/smoke_test.sh $<TARGET_FILE:tolvane-bench> ${CMAKE_BINARY_DIR}/scratch/bench-smoke)
  set_tests_properties(bench_runs_and_prints_its_table PROPERTIES TIMEOUT 120)
endif()
