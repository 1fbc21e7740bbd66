# The Windows package (cpack --preset windows): a zip holding valdoria.exe and
# the manual as plain text with Windows' line ends, in one folder to unpack
# where the heroes' files should live.

find_program(VALDORIA_MANDOC mandoc REQUIRED)
set(manual ${CMAKE_CURRENT_BINARY_DIR}/valdoria.txt)
add_custom_command(
  OUTPUT ${manual}
  COMMAND ${CMAKE_COMMAND} -DMANDOC=${VALDORIA_MANDOC} -DPAGE=${PROJECT_SOURCE_DIR}/doc/valdoria.6
          -DTEXT=${manual} -P ${CMAKE_CURRENT_LIST_DIR}/ManualText.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/doc/valdoria.6 ${CMAKE_CURRENT_LIST_DIR}/ManualText.cmake
  COMMENT "Rendering the manual as text")
add_custom_target(manual_text ALL DEPENDS ${manual})

install(TARGETS valdoria RUNTIME DESTINATION .)
install(FILES ${manual} DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-win64)
set(CPACK_STRIP_FILES ON)

include(CPack)
