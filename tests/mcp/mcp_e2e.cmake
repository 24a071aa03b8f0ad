# End-to-end checks of `vellumo-cli mcp`, run as `cmake -P` so that the same
# driver serves the native executable and the Windows one under Wine.
#
#   -DCLI=<executable> [-DWINE=<wine64 loader>] -DWORK=<scratch folder>
#   -DMODE=exchange -DREQUESTS=<file> -DEXPECTED=<file> -DVERSION=<version>
#       Pipes REQUESTS through the server and compares its output, byte for
#       byte, with EXPECTED, in which @CLI_PATH@ stands for the executable's
#       path as written inside a JSON string and @VERSION@ for the version
#       of the build. Standard error must stay empty and the exit code must
#       be 0.
#   -DMODE=closed-output
#       Sends many requests to a reader that stops after one byte: the
#       server must end with exit code 1, without a word on standard error,
#       once its output is gone.
cmake_minimum_required(VERSION 3.20)

foreach(var CLI WORK MODE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()
file(MAKE_DIRECTORY "${WORK}")
# Standard error goes to a file, not a pipe: Wine's service processes, which
# the first program of a prefix starts, inherit it and would hold a pipe open
# long after the program has ended.
set(errors_file "${WORK}/errors.txt")

if(DEFINED WINE)
  set(command "${WINE}" "${CLI}")
  # Wine shows the Unix root as drive Z:.
  string(REPLACE "/" "\\" cli_path "Z:${CLI}")
else()
  set(command "${CLI}")
  file(REAL_PATH "${CLI}" cli_path)
endif()

if(MODE STREQUAL "exchange")
  execute_process(
    COMMAND ${command} mcp
    INPUT_FILE "${REQUESTS}"
    OUTPUT_FILE "${WORK}/replies.actual"
    ERROR_FILE "${errors_file}"
    RESULT_VARIABLE code)
  file(READ "${errors_file}" errors)
  string(REPLACE "\\" "\\\\" path_json "${cli_path}")
  string(REPLACE "\"" "\\\"" path_json "${path_json}")
  file(READ "${EXPECTED}" expected)
  string(REPLACE "@CLI_PATH@" "${path_json}" expected "${expected}")
  string(REPLACE "@VERSION@" "${VERSION}" expected "${expected}")
  file(WRITE "${WORK}/replies.expected" "${expected}")
  file(READ "${WORK}/replies.actual" actual)
  if(NOT code STREQUAL "0")
    message(FATAL_ERROR "exit code ${code}, expected 0")
  endif()
  if(NOT errors STREQUAL "")
    message(FATAL_ERROR "standard error was written:\n${errors}")
  endif()
  if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "the replies differ: diff ${WORK}/replies.expected ${WORK}/replies.actual")
  endif()
elseif(MODE STREQUAL "closed-output")
  string(REPEAT "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\n" 50000 requests)
  file(WRITE "${WORK}/many.jsonl" "${requests}")
  execute_process(
    COMMAND ${command} mcp
    COMMAND head -c 1
    INPUT_FILE "${WORK}/many.jsonl"
    OUTPUT_VARIABLE first
    ERROR_FILE "${errors_file}"
    RESULTS_VARIABLE codes)
  file(READ "${errors_file}" errors)
  if(NOT codes STREQUAL "1;0" OR NOT first STREQUAL "{" OR NOT errors STREQUAL "")
    message(FATAL_ERROR "exit codes ${codes} (expected 1;0), output '${first}', errors '${errors}'")
  endif()
else()
  message(FATAL_ERROR "unknown MODE ${MODE}")
endif()
