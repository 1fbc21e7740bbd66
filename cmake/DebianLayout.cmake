# Run by CPack on the staged files, before it builds the Debian package.

set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(debian "${CPACK_VALDORIA_SOURCE_DIR}/cmake/debian")

function(compress file)
  # No name or time stamp in the header, so the same file compresses the same.
  execute_process(COMMAND gzip -9n "${file}" COMMAND_ERROR_IS_FATAL ANY)
endfunction()

# Debian keeps games in /usr/games.
file(MAKE_DIRECTORY "${root}/games")
file(RENAME "${root}/${CPACK_VALDORIA_BINDIR}/valdoria" "${root}/games/valdoria")
file(REMOVE_RECURSE "${root}/${CPACK_VALDORIA_BINDIR}")
execute_process(
  COMMAND "${CPACK_VALDORIA_STRIP}" --remove-section=.comment --remove-section=.note
          "${root}/games/valdoria" COMMAND_ERROR_IS_FATAL ANY)

compress("${root}/${CPACK_VALDORIA_MANDIR}/man6/valdoria.6")

# The changelog's latest entry must be the version being packaged.
file(STRINGS "${debian}/changelog" latest LIMIT_COUNT 1)
if(NOT latest MATCHES "^valdoria \\(${CPACK_PACKAGE_VERSION}\\) ")
  message(FATAL_ERROR "cmake/debian/changelog has no entry for ${CPACK_PACKAGE_VERSION} on top")
endif()
file(MAKE_DIRECTORY "${root}/share/doc/valdoria")
file(COPY_FILE "${debian}/changelog" "${root}/share/doc/valdoria/changelog")
compress("${root}/share/doc/valdoria/changelog")

file(MAKE_DIRECTORY "${root}/share/lintian/overrides")
file(COPY_FILE "${debian}/lintian-overrides" "${root}/share/lintian/overrides/valdoria")
