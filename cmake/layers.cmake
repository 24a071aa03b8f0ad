# Checks that the folders of src/ include one another only downward:
#
#   cmake -DSOURCE_DIR=<src folder> -P layers.cmake
#
# An include of another folder's header ("folder/file.h") must be one of the
# edges in the table below, which follows the drawing in ARCHITECTURE.md:
# each folder lists the folders below it that it may use. A folder of src/
# missing from the table fails too, so that a new module gets its place.
# Headers without a folder (version.h, written by the build) are free to all.

cmake_minimum_required(VERSION 3.20)

# <folder> <the folders it may include>...
set(layers
  "core"
  "platform core"
  "process platform core"
  "texts core"
  "app_link platform core"
  "agent_integration process platform core"
  "mcp texts platform core"
  "cli mcp app_link agent_integration process texts platform core"
  "standin_app texts platform core"
  "docs cli mcp app_link agent_integration process texts platform core"
  "resources"
)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=<src folder> -P layers.cmake")
endif()

set(known)
foreach(row IN LISTS layers)
  string(REPLACE " " ";" row "${row}")
  list(POP_FRONT row folder)
  list(APPEND known ${folder})
  set(allowed_${folder} ${row})
endforeach()

set(faults)
file(GLOB folders RELATIVE ${SOURCE_DIR} LIST_DIRECTORIES true ${SOURCE_DIR}/*)
foreach(folder IN LISTS folders)
  if(NOT IS_DIRECTORY ${SOURCE_DIR}/${folder})
    continue()
  endif()
  if(NOT folder IN_LIST known)
    list(APPEND faults "src/${folder}/ has no row in the table of cmake/layers.cmake")
    continue()
  endif()
  file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${folder}/*)
  foreach(source IN LISTS sources)
    file(STRINGS ${SOURCE_DIR}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"/]+)/.*" "\\1" used "${line}")
      if(used STREQUAL folder OR NOT IS_DIRECTORY ${SOURCE_DIR}/${used})
        continue()
      endif()
      if(NOT used IN_LIST allowed_${folder})
        string(STRIP "${line}" line)
        list(APPEND faults "src/${source}: ${line}: ${folder} may not include ${used}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "Includes against the layers:\n  ${text}")
endif()
message(STATUS "Every include in ${SOURCE_DIR} follows the layers")
