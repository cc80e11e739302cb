# GoogleTest: the system's build where there is one, else built from the
# sources Debian ships in /usr/src/googletest (the cross build needs that).
if(NOT WIN32)
  find_package(GTest QUIET)
endif()
if(NOT TARGET GTest::gtest_main)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Newer GoogleTest sources name their targets so themselves.
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()

# Registers every test of a GoogleTest binary with CTest. A cross-built
# binary runs through the emulator CMake knows (wine).
include(GoogleTest)
function(tolvane_add_gtest target)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target})
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 30)
  endif()
endfunction()
