# The Windows release archive: cpack (or the "package" target) in a build made with a
# mingw-w64 tool chain file writes symvert-<version>-win64.zip, or -win32.zip for the
# 32-bit program. It unpacks to the installation layout the program expects, its message
# files in dat/ two levels above the program:
#   bin/symvert.exe      the program
#   dat/*_msgs.txt       message descriptions
#   doc/symvert.txt      the manual page as plain text, with CR LF line ends
# There is no licence file yet (packaging/copyright states none); it goes beside doc/
# once there is one.

install(TARGETS symvert RUNTIME DESTINATION bin)
install(FILES ${SYMVERT_MESSAGE_FILES} DESTINATION dat)

# The manual page rendered as plain text (no overstrike), for Windows editors.
find_program(SYMVERT_GROFF groff)
if(SYMVERT_GROFF)
  set(SYMVERT_MANUAL_TEXT ${CMAKE_BINARY_DIR}/packaging/symvert.txt)
  add_custom_command(OUTPUT ${SYMVERT_MANUAL_TEXT}
    COMMAND ${CMAKE_COMMAND} -DGROFF=${SYMVERT_GROFF} -DPAGE=${CMAKE_BINARY_DIR}/man/symvert.1
      -DOUT=${SYMVERT_MANUAL_TEXT} -P ${CMAKE_CURRENT_LIST_DIR}/manual_text.cmake
    DEPENDS ${CMAKE_BINARY_DIR}/man/symvert.1 ${CMAKE_CURRENT_LIST_DIR}/manual_text.cmake)
  add_custom_target(symvert_manual_text ALL DEPENDS ${SYMVERT_MANUAL_TEXT})
  install(FILES ${SYMVERT_MANUAL_TEXT} DESTINATION doc)
else()
  message(STATUS "symvert: groff not found: the archive holds no manual (install groff-base)")
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(SYMVERT_ARCHIVE_SYSTEM win64)
else()
  set(SYMVERT_ARCHIVE_SYSTEM win32)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME symvert)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME symvert-${PROJECT_VERSION}-${SYMVERT_ARCHIVE_SYSTEM})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES ON)
include(CPack)
