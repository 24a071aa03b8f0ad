# The source date: the one time stamp that builds and packages of a commit
# carry wherever a date must appear, so that two builds of one commit are
# identical. SOURCE_DATE_EPOCH from the environment wins; else the date of
# the commit checked out; else, outside a git checkout, the date of the top
# CMakeLists.txt.
#
# Included, it sets VELLUMO_SOURCE_DATE_EPOCH (seconds since 1970, UTC).
# Run as a script (cmake -P cmake/source_date.cmake), it prints the value:
# scripts/package and the package check take it from here.

get_filename_component(source_date_top ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(VELLUMO_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  find_program(source_date_git git)
  if(source_date_git)
    execute_process(
      COMMAND ${source_date_git} log -1 --format=%ct
      WORKING_DIRECTORY ${source_date_top}
      OUTPUT_VARIABLE VELLUMO_SOURCE_DATE_EPOCH
      OUTPUT_STRIP_TRAILING_WHITESPACE
      ERROR_QUIET
      RESULT_VARIABLE source_date_status)
    if(NOT source_date_status EQUAL 0)
      set(VELLUMO_SOURCE_DATE_EPOCH "")
    endif()
  endif()
  if(VELLUMO_SOURCE_DATE_EPOCH STREQUAL "")
    file(TIMESTAMP ${source_date_top}/CMakeLists.txt VELLUMO_SOURCE_DATE_EPOCH "%s" UTC)
  endif()
endif()
if(NOT VELLUMO_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must be a count of seconds, not '${VELLUMO_SOURCE_DATE_EPOCH}'")
endif()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo ${VELLUMO_SOURCE_DATE_EPOCH})
endif()
