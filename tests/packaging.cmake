# The completions in each shell (skipped where it is not installed) and
# the Debian package. Not in the sanitizers' tree: its tolvane is not the
# one packaged, and the scripts are the same.
if(TOLVANE_SANITIZE)
  return()
endif()

foreach(shell bash zsh fish)
  add_test(NAME completions_${shell}
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/completions_test.sh ${shell} ${TOLVANE_COMPLETIONS_DIR}
            $<TARGET_FILE:tolvane> ${CMAKE_BINARY_DIR}/scratch/completions-${shell})
  set_tests_properties(completions_${shell} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)
endforeach()

add_test(NAME debian_package
  COMMAND sh ${CMAKE_SOURCE_DIR}/tests/package_test.sh ${CMAKE_CPACK_COMMAND} ${CMAKE_BINARY_DIR} ${TOLVANE_MAN_PAGE}
          ${CMAKE_BINARY_DIR}/scratch/package)
# cpack installs from this tree, which make install configures and builds
# again: never both at once.
set_tests_properties(debian_package PROPERTIES TIMEOUT 120 RESOURCE_LOCK build_tree SKIP_RETURN_CODE 77)
if(TEST make_install_and_uninstall)
  set_tests_properties(make_install_and_uninstall PROPERTIES RESOURCE_LOCK build_tree)
endif()
