# Plants one include per case in a scratch tree and runs the layer check on it: breaches must
# fail with a message naming them, includes that follow the layers must pass.
#   cmake -DLAYER_FILE=<layers.cmake> -DCHECK=<CheckIncludeLayers.cmake> -DWORK_DIR=<dir> -P ...
cmake_minimum_required(VERSION 3.25)

# file | its content | expected output ("" when the check must pass)
set(cases
  "memory/Planted.cpp|#include \"app/MCAppDelegate.h\"|\"app/MCAppDelegate.h\" is from app, above memory"
  "memory/Planted.cpp|#include \"logging/DDLog.h\"|is from logging, beside memory"
  "logging/Planted.h|#include \"GoogleAnalytics/AnalyticsLog.h\"|is from GoogleAnalytics, above logging"
  "chart/framework/Planted.cpp|#include \"chart/PlotView.h\"|is from chart, above chart/framework"
  "chart/Planted.cpp|#include \"platform/ui/StatusBar.h\"|is from platform/ui, below chart, which chart does not declare"
  "popover/Planted.ui|<header>AXStatusItemPopup/AXStatusItemPopup.h</header>|is from AXStatusItemPopup, above popover"
  "logging/Planted.cpp|#  include \"DDLog.h\"|\"DDLog.h\" is not written from the include root"
  "GoogleAnalytics/Planted.cpp|#include \"logging/DDLog.h\"|"
  "app/Planted.cpp|#include \"chart/framework/CPTGraph.h\"|"
  "chart/framework/Planted.cpp|#include \"chart/framework/CPTGraph.h\"|"
  "platform/core/Planted.cpp|#include \"bundle_info_config.h\"|")

function(run_check root layer_file expected label)
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_ROOT=${root} -DLAYER_FILE=${layer_file}
                          -P ${CHECK}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(APPEND out "${err}")
  if(expected STREQUAL "")
    if(NOT rc EQUAL 0)
      message(SEND_ERROR "${label}: the check failed on a good include:\n${out}")
    endif()
  else()
    string(FIND "${out}" "${expected}" at)
    if(rc EQUAL 0 OR at EQUAL -1)
      message(SEND_ERROR "${label}: expected a failure with '${expected}', got rc ${rc}:\n${out}")
    endif()
  endif()
endfunction()

set(n 0)
foreach(case IN LISTS cases)
  math(EXPR n "${n} + 1")
  string(REPLACE "|" ";" fields "${case}")
  list(LENGTH fields count)
  list(GET fields 0 file)
  list(GET fields 1 content)
  set(expected "")
  if(count GREATER 2)
    list(GET fields 2 expected)
  endif()
  set(root ${WORK_DIR}/${n})
  file(REMOVE_RECURSE ${root})
  file(WRITE ${root}/${file} "${content}\n")
  # A neighbour the unqualified include would find by proximity.
  get_filename_component(dir ${root}/${file} DIRECTORY)
  file(WRITE ${dir}/DDLog.h "")
  run_check(${root} ${LAYER_FILE} "${expected}" "${file} with '${content}'")
endforeach()

# A dependency declared upward in CMake is a breach even before any file uses it.
file(READ ${LAYER_FILE} layers)
string(REGEX REPLACE "set\\(LAYER_USES_memory ([^)]*)\\)" "set(LAYER_USES_memory \\1 popover)"
       planted "${layers}")
if(planted STREQUAL layers)
  message(FATAL_ERROR "could not plant a declaration in ${LAYER_FILE}")
endif()
set(root ${WORK_DIR}/declared)
file(REMOVE_RECURSE ${root})
file(WRITE ${root}/memory/Planted.cpp "#include \"popover/INGeometry.h\"\n")
file(WRITE ${WORK_DIR}/declared.cmake "${planted}")
run_check(${root} ${WORK_DIR}/declared.cmake "memory declares popover, which is not below it"
          "memory declaring popover")
