# Cross-builds tolvane-win with MinGW-w64. Programs built here run under
# Wine, so ctest can run the unit tests on this machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The posix-thread flavour: GoogleTest needs std::mutex, which the win32
# flavour lacks. tolvane-win itself starts no threads.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program stands alone: no MinGW DLLs to ship, none to find under Wine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Wine in a prefix of the build tree's own, never the user's ~/.wine. wine64
# itself, where there is one, spares us the wrapper's note about wine32.
find_program(TOLVANE_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TOLVANE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
    env WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
    ${TOLVANE_WINE})
endif()
