# The release being built is the newest entry of packaging/changelog (the Debian changelog
# the packages carry). Its version must be the project's, so that no release goes out with
# a stale changelog; its date becomes KELVO_RELEASE_DATE (YYYY-MM-DD, for the AppStream
# metadata) and KELVO_RELEASE_EPOCH (the date the manual pages carry, so that rebuilding a
# release makes the same files).
set(changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})
file(STRINGS ${changelog} head LIMIT_COUNT 1)
if(NOT head MATCHES "^kelvo \\(([^)]+)\\) ")
  message(FATAL_ERROR "${changelog}: the first line is not 'kelvo (VERSION) ...'")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "${changelog}: the newest entry is for ${CMAKE_MATCH_1}, the project "
                      "is ${PROJECT_VERSION}; add an entry for ${PROJECT_VERSION}")
endif()
file(STRINGS ${changelog} trailer REGEX "^ -- .*>  " LIMIT_COUNT 1)
string(REGEX REPLACE "^ -- .*>  " "" date "${trailer}")
execute_process(COMMAND date -u -d "${date}" +%s OUTPUT_VARIABLE KELVO_RELEASE_EPOCH
                OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
if(failed OR NOT KELVO_RELEASE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "${changelog}: the newest entry's date '${date}' cannot be read")
endif()
execute_process(COMMAND date -u -d @${KELVO_RELEASE_EPOCH} +%F OUTPUT_VARIABLE KELVO_RELEASE_DATE
                OUTPUT_STRIP_TRAILING_WHITESPACE)
