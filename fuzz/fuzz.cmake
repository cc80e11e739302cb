# The fuzz build (preset fuzz): clang's libFuzzer targets with AddressSanitizer
# and UBSan, their seed generator, and tests that replay the checked-in
# inputs and fuzz each target for TOLVANE_FUZZ_SECONDS. Nothing else of the
# project is built here. Without clang or libFuzzer it says so and adds nothing.
set(TOLVANE_FUZZ_SECONDS 30 CACHE STRING "How long the fuzz tests run each target")

if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(WARNING "fuzz: skipped: the fuzz targets need clang++, not ${CMAKE_CXX_COMPILER_ID}")
  return()
endif()
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_FLAGS "-fsanitize=fuzzer,address,undefined")
check_cxx_source_compiles([[
#include <cstddef>
#include <cstdint>
extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }
]] TOLVANE_HAVE_LIBFUZZER)
unset(CMAKE_REQUIRED_FLAGS)
if(NOT TOLVANE_HAVE_LIBFUZZER)
  string(REGEX MATCH "^[0-9]+" clang_major "${CMAKE_CXX_COMPILER_VERSION}")
  message(WARNING "fuzz: skipped: clang cannot link libFuzzer (Debian: libclang-rt-${clang_major}-dev)")
  return()
endif()

math(EXPR TOLVANE_FUZZ_TIMEOUT "${TOLVANE_FUZZ_SECONDS} + 300")  # the replay of the corpus comes first
set(TOLVANE_SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
set(TOLVANE_FUZZ_FLAGS -fsanitize=fuzzer ${TOLVANE_SANITIZE_FLAGS})

# The program's own libraries, instrumented for the fuzzer. The platform's
# hooks (the console's writes, the wait, the line's transport) are each
# target's own stand-ins.
add_compile_options(-fsanitize=fuzzer-no-link ${TOLVANE_SANITIZE_FLAGS})
add_link_options(${TOLVANE_SANITIZE_FLAGS})
add_library(tolvane_platform INTERFACE)
include(cmake/libraries.cmake)

function(tolvane_add_fuzzer name)
  add_executable(fuzz_${name} ${ARGN})
  target_compile_options(fuzz_${name} PRIVATE ${TOLVANE_FUZZ_FLAGS})
  target_link_options(fuzz_${name} PRIVATE ${TOLVANE_FUZZ_FLAGS})
  set(run ${CMAKE_SOURCE_DIR}/fuzz/run.sh)
  set(work ${CMAKE_BINARY_DIR}/test-run/${name})
  add_test(NAME fuzz_${name}_replays_its_corpus
    COMMAND sh ${run} replay $<TARGET_FILE:fuzz_${name}> ${name} ${work}-replay)
  add_test(NAME fuzz_${name}_runs_${TOLVANE_FUZZ_SECONDS}s
    COMMAND sh ${run} fuzz $<TARGET_FILE:fuzz_${name}> ${name} ${work} ${TOLVANE_FUZZ_SECONDS})
  set_tests_properties(fuzz_${name}_runs_${TOLVANE_FUZZ_SECONDS}s PROPERTIES
    TIMEOUT ${TOLVANE_FUZZ_TIMEOUT} LABELS fuzz)
  set_tests_properties(fuzz_${name}_replays_its_corpus PROPERTIES TIMEOUT 300 LABELS fuzz)
endfunction()

# The host's line path: terminal rules and file service over an in-memory
# line (the line itself is the target's own stand-in).
tolvane_add_fuzzer(line fuzz/line_fuzzer.cpp fuzz/quiet_host.cpp fuzz/scratch.cpp)
target_link_libraries(fuzz_line PRIVATE tolvane_terminal)
target_link_options(fuzz_line PRIVATE -Wl,--wrap=fseek)  # positions held small (fuzz/line_fuzzer.cpp)

# The device side: the client library decoding a faulty host's replies, and
# newlib's system calls above it (built here with the test names).
tolvane_add_fuzzer(client fuzz/client_fuzzer.cpp client/hostfs_newlib.c)
target_link_libraries(fuzz_client PRIVATE tolvane_client)
target_compile_definitions(fuzz_client PRIVATE HOSTFS_NEWLIB_TEST_NAMES)

# The command line: the option scanner and the entry.
tolvane_add_fuzzer(options fuzz/options_fuzzer.cpp fuzz/quiet_host.cpp)
target_link_libraries(fuzz_options PRIVATE tolvane_app)

# The pattern engine of --expect and --fail, beside the C library's.
tolvane_add_fuzzer(matcher fuzz/matcher_fuzzer.cpp fuzz/quiet_host.cpp)
target_link_libraries(fuzz_matcher PRIVATE tolvane_terminal)

# A network line's telnet side against a faulty server.
tolvane_add_fuzzer(telnet fuzz/telnet_fuzzer.cpp)
target_link_libraries(fuzz_telnet PRIVATE tolvane_net)

# Writes the seed corpus and the regression inputs; run by hand (fuzz/README.md).
add_executable(tolvane-fuzz-seeds fuzz/seeds.cpp)
target_link_libraries(tolvane-fuzz-seeds PRIVATE tolvane_client tolvane_net)
