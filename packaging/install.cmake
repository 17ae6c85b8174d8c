# Installation and the Debian package.
#
# One layout for every prefix. The program and its message files stay together under
# PREFIX/lib/symvert, because the program looks for dat/ two levels above its own file
# (bin/..). PREFIX/bin/symvert is a relative symbolic link to the program: the command is
# on the PATH, and the program still finds its files, since its own path is the link's
# target. The Debian package is this layout with the prefix /usr.

set(SYMVERT_INSTALL_HOME lib/symvert)
set(SYMVERT_STAGE ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${SYMVERT_STAGE})

install(TARGETS symvert RUNTIME DESTINATION ${SYMVERT_INSTALL_HOME}/bin)
install(FILES ${SYMVERT_MESSAGE_FILES} DESTINATION ${SYMVERT_INSTALL_HOME}/dat)

file(CREATE_LINK ../${SYMVERT_INSTALL_HOME}/bin/symvert ${SYMVERT_STAGE}/symvert SYMBOLIC)
install(FILES ${SYMVERT_STAGE}/symvert DESTINATION bin)

# The manual page and the changelog are installed gzipped ("-n": no name or time stamp
# in the header, so the files are the same on every build).
configure_file(${CMAKE_BINARY_DIR}/man/symvert.1 ${SYMVERT_STAGE}/symvert.1 COPYONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog ${SYMVERT_STAGE}/changelog COPYONLY)
find_program(SYMVERT_GZIP gzip)
if(SYMVERT_GZIP)
  execute_process(COMMAND ${SYMVERT_GZIP} -9nf symvert.1 changelog
    WORKING_DIRECTORY ${SYMVERT_STAGE} RESULT_VARIABLE gzip_status)
  if(NOT gzip_status EQUAL 0)
    message(FATAL_ERROR "symvert: gzip failed on the manual page and changelog")
  endif()
  install(FILES ${SYMVERT_STAGE}/symvert.1.gz DESTINATION share/man/man1)
  install(FILES ${SYMVERT_STAGE}/changelog.gz DESTINATION share/doc/symvert)
else()
  message(STATUS "symvert: gzip not found: the manual page and changelog are installed uncompressed")
  install(FILES ${SYMVERT_STAGE}/symvert.1 DESTINATION share/man/man1)
  install(FILES ${SYMVERT_STAGE}/changelog DESTINATION share/doc/symvert)
endif()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION share/doc/symvert)

# cpack -G DEB (or the "package" target) makes symvert_<version>_<arch>.deb.
set(SYMVERT_MAINTAINER "symvert maintainers <maintainers@users.noreply.c-seed-f982871d.example>"
  CACHE STRING "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME symvert)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${SYMVERT_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Directories the package makes are 0755 whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "symbol-file reformatter for embedded C tool chains")
set(CPACK_PACKAGE_DESCRIPTION
  "symvert reads the debugging information of a linked microcontroller program\n"
  "(the tool chain's .sym file with its .sdb side files, Intel HEX, S-record and\n"
  "TI TXT images, COFF, Microchip COFF, ICOFF, ELF, OMF-51, Extended OMF-51,\n"
  "Holtek, UBROF and P&E files) and writes the formats that debuggers, simulators\n"
  "and in-circuit emulators load: .COD, COFF, ELF/DWARF 2, OMF-51 and others.\n"
  "It also dumps most of these formats in readable form.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${SYMVERT_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
