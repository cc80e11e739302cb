# tolvane-sim: a simulated board on a pseudo-terminal, built on the client
# library, for `make demo` and the end-to-end tests. Not installed.
add_executable(tolvane-sim
  sim/commands.cpp
  sim/line.cpp
  sim/log.cpp
  sim/main.cpp
  sim/output.cpp
  sim/shell.cpp)
target_link_libraries(tolvane-sim PRIVATE tolvane_client)
