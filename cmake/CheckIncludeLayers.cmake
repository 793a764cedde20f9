# Checks that every project include in the source tree points down the layers.
#   cmake -DSOURCE_ROOT=<src> -DLAYER_FILE=<layers.cmake> -P CheckIncludeLayers.cmake
# LAYER_FILE sets LAYER_FOLDERS (folders under SOURCE_ROOT) and, per folder id
# (string(MAKE_C_IDENTIFIER)), LAYER_RANK_<id> and LAYER_USES_<id>: the folders its target
# declares in CMake, directly or through a dependency's public interface.
# A folder may include its own headers and those of the folders it declares; a declared folder
# must be of a lower rank. Includes are written from the include root, never from the file's
# own directory. Exits non-zero and lists every breach.
cmake_minimum_required(VERSION 3.25)

if(NOT SOURCE_ROOT OR NOT LAYER_FILE)
  message(FATAL_ERROR "usage: cmake -DSOURCE_ROOT=<dir> -DLAYER_FILE=<file> -P ${CMAKE_SCRIPT_MODE_FILE}")
endif()
include(${LAYER_FILE})

# Longest folders first, so "chart/framework/X.h" belongs to chart/framework, not chart.
set(by_length "")
foreach(folder IN LISTS LAYER_FOLDERS)
  string(LENGTH "${folder}" n)
  math(EXPR n "1000 - ${n}")
  list(APPEND by_length "${n}|${folder}")
endforeach()
list(SORT by_length)
list(TRANSFORM by_length REPLACE "^[0-9]+\\|" "")

# The layer folder a root-relative path belongs to, or "" when it belongs to none.
function(owner_of path out)
  foreach(folder IN LISTS by_length)
    string(FIND "${path}" "${folder}/" at)
    if(at EQUAL 0)
      set(${out} "${folder}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} "" PARENT_SCOPE)
endfunction()

set(breaches "")

# The declarations themselves only point down.
foreach(folder IN LISTS LAYER_FOLDERS)
  string(MAKE_C_IDENTIFIER "${folder}" id)
  foreach(used IN LISTS LAYER_USES_${id})
    string(MAKE_C_IDENTIFIER "${used}" used_id)
    if(NOT DEFINED LAYER_RANK_${used_id})
      list(APPEND breaches "${folder} declares ${used}, which is not a layer")
    elseif(NOT LAYER_RANK_${used_id} LESS LAYER_RANK_${id})
      list(APPEND breaches "${folder} declares ${used}, which is not below it")
    endif()
  endforeach()
endforeach()

file(GLOB_RECURSE files RELATIVE "${SOURCE_ROOT}" "${SOURCE_ROOT}/*.cpp" "${SOURCE_ROOT}/*.h"
     "${SOURCE_ROOT}/*.ui")
list(SORT files)
foreach(file IN LISTS files)
  owner_of("${file}" folder)
  if(folder STREQUAL "")
    continue()
  endif()
  string(MAKE_C_IDENTIFIER "${folder}" id)
  get_filename_component(dir "${SOURCE_ROOT}/${file}" DIRECTORY)
  # Quoted includes, and the headers of custom widgets in Designer files.
  file(STRINGS "${SOURCE_ROOT}/${file}" lines
       REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"|<header>[^<]+</header>")
  foreach(line IN LISTS lines)
    if(line MATCHES "<header>([^<]+)</header>")
      set(included "${CMAKE_MATCH_1}")
    elseif(line MATCHES "\"([^\"]+)\"")
      set(included "${CMAKE_MATCH_1}")
    endif()
    owner_of("${included}" target)
    if(target STREQUAL "")
      # Not from a layer: fine for generated headers, not for a neighbour found by proximity.
      if(EXISTS "${dir}/${included}")
        list(APPEND breaches "${file}: \"${included}\" is not written from the include root")
      endif()
    elseif(NOT target STREQUAL folder AND NOT target IN_LIST LAYER_USES_${id})
      string(MAKE_C_IDENTIFIER "${target}" target_id)
      if(LAYER_RANK_${target_id} GREATER LAYER_RANK_${id})
        set(where "above")
      elseif(LAYER_RANK_${target_id} EQUAL LAYER_RANK_${id})
        set(where "beside")
      else()
        set(where "below")
      endif()
      list(APPEND breaches
           "${file}: \"${included}\" is from ${target}, ${where} ${folder}, which ${folder} does not declare")
    endif()
  endforeach()
endforeach()

list(LENGTH files count)
if(breaches)
  list(JOIN breaches "\n  " text)
  message(FATAL_ERROR "Includes that break the layers:\n  ${text}")
endif()
message(STATUS "${count} files, every include points down a declared dependency")
