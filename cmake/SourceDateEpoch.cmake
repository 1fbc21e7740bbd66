# Read by cpack before it packs (CPACK_PROJECT_CONFIG_FILE). The package's
# time stamps are the project's own, so the same commit always packs the same
# bytes: SOURCE_DATE_EPOCH, which CPack honours, is the last commit's date,
# or the date of the changelog's latest entry where there is no git history.
# One already set is kept.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  return()
endif()
set(epoch "")
# Only the project's own history: a copy of the sources inside another
# repository takes the changelog's date.
if(EXISTS "${CPACK_VALDORIA_SOURCE_DIR}/.git")
  execute_process(
    COMMAND git -C "${CPACK_VALDORIA_SOURCE_DIR}" log -1 --format=%ct
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT epoch MATCHES "^[0-9]+$")
  execute_process(
    COMMAND dpkg-parsechangelog -l "${CPACK_VALDORIA_SOURCE_DIR}/cmake/debian/changelog"
            -S Timestamp
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endif()
set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
