# tolvane's bash, zsh and fish completions, written from the option table
# by tolvane-completions at build time, and where make install and the
# Debian package put them.

# The option table's rows apply to the settings of the whole program.
add_executable(tolvane-completions app/completions.cpp)
target_link_libraries(tolvane-completions PRIVATE tolvane_app)

set(TOLVANE_COMPLETIONS_DIR ${CMAKE_CURRENT_BINARY_DIR}/completions)
set(TOLVANE_COMPLETIONS
  ${TOLVANE_COMPLETIONS_DIR}/tolvane.bash
  ${TOLVANE_COMPLETIONS_DIR}/_tolvane
  ${TOLVANE_COMPLETIONS_DIR}/tolvane.fish)
add_custom_command(OUTPUT ${TOLVANE_COMPLETIONS}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TOLVANE_COMPLETIONS_DIR}
  COMMAND tolvane-completions ${TOLVANE_COMPLETIONS_DIR}
  DEPENDS tolvane-completions
  COMMENT "Writing the shell completions from the option table")
add_custom_target(shell-completions ALL DEPENDS ${TOLVANE_COMPLETIONS})

# bash-completion looks a command's completion up by its name; zsh in its
# fpath, where Debian's zsh has vendor-completions under /usr and
# site-functions under /usr/local; fish in vendor_completions.d.
install(FILES ${TOLVANE_COMPLETIONS_DIR}/tolvane.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tolvane)
install(FILES ${TOLVANE_COMPLETIONS_DIR}/tolvane.fish DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
install(CODE "
  if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
    set(tolvane_zsh_dir \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions\")
  else()
    set(tolvane_zsh_dir \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/zsh/site-functions\")
  endif()
  file(INSTALL DESTINATION \"\${tolvane_zsh_dir}\" TYPE FILE FILES \"${TOLVANE_COMPLETIONS_DIR}/_tolvane\")")
