# VELLUMO_SOURCE_DATE_EPOCH: the time the sources are from, in seconds since
# 1970, for whatever the build writes a date into (the manual page, the
# packages), so that two builds of one commit write the same bytes:
# SOURCE_DATE_EPOCH when it is set, else the date of the commit checked out,
# else a fixed date. Read when CMake configures the build.

set(VELLUMO_SOURCE_DATE_FALLBACK 1767225600)  # 2026-01-01

if(DEFINED ENV{SOURCE_DATE_EPOCH} AND "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
  set(VELLUMO_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  find_package(Git QUIET)
  set(commit_date "")
  if(GIT_EXECUTABLE)
    execute_process(
      COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE commit_date
      OUTPUT_STRIP_TRAILING_WHITESPACE
      ERROR_QUIET)
  endif()
  if(commit_date MATCHES "^[0-9]+$")
    set(VELLUMO_SOURCE_DATE_EPOCH ${commit_date})
  else()
    set(VELLUMO_SOURCE_DATE_EPOCH ${VELLUMO_SOURCE_DATE_FALLBACK})
  endif()
endif()
