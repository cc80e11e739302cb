# The packages: make package, a Debian package of tolvane (CPack); make
# package-windows, a zip of tolvane-win. Both are written to package/ in
# the build tree.
set(TOLVANE_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)

if(WIN32)
  # tolvane-win.exe stripped, the Windows README and the licence, with
  # Windows line ends, in one folder named after the version.
  set(TOLVANE_ZIP_NAME tolvane-win-${PROJECT_VERSION})
  set(TOLVANE_ZIP_STAGE ${CMAKE_BINARY_DIR}/package-windows)
  configure_file(win32/README.txt ${TOLVANE_ZIP_STAGE}/${TOLVANE_ZIP_NAME}/README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(LICENSE ${TOLVANE_ZIP_STAGE}/${TOLVANE_ZIP_NAME}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  add_custom_target(package-windows
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:tolvane-win> ${TOLVANE_ZIP_STAGE}/${TOLVANE_ZIP_NAME}/
    COMMAND ${CMAKE_STRIP} ${TOLVANE_ZIP_STAGE}/${TOLVANE_ZIP_NAME}/$<TARGET_FILE_NAME:tolvane-win>
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TOLVANE_PACKAGE_DIR}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${TOLVANE_PACKAGE_DIR}/${TOLVANE_ZIP_NAME}.zip
    COMMAND ${CMAKE_COMMAND} -E chdir ${TOLVANE_ZIP_STAGE}
            ${CMAKE_COMMAND} -E tar cf ${TOLVANE_PACKAGE_DIR}/${TOLVANE_ZIP_NAME}.zip --format=zip ${TOLVANE_ZIP_NAME}
    DEPENDS tolvane-win
    COMMENT "Writing ${TOLVANE_PACKAGE_DIR}/${TOLVANE_ZIP_NAME}.zip"
    VERBATIM)
  return()
endif()

install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

# cpack installs what is built, and builds nothing first: make package
# builds tolvane and the completions, not every test.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvane)
# The version tolvane --version prints.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "tolvane developers <dev@tolvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console terminal for a board on a serial line, with a file service")
set(CPACK_PACKAGE_DESCRIPTION "tolvane shows what a board (the target) sends on an RS-232 line and sends
it the keys typed; Ctrl-Q ends it. Over the same line the firmware can open,
read, write and list the host's files through tolvane's client library.")
set(CPACK_PACKAGE_DIRECTORY ${TOLVANE_PACKAGE_DIR})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
# dpkg-shlibdeps: the C and C++ libraries, in the versions the build needs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
