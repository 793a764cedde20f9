# Fuzz targets. A target is one line in the CMakeLists.txt beside its harness:
#
#     brimwell_add_fuzz_target(fuzz_preferences LIBS platform_core)
#
# The harness is <name>.cpp (or SOURCES) and defines LLVMFuzzerTestOneInput; a libFuzzer
# dictionary <name>.dict beside it is used when present.
#
# With BRIMWELL_FUZZ (the fuzz preset, clang) the harness is linked with libFuzzer and every
# target of the project, so also the libraries under test, is compiled with coverage
# instrumentation (-fsanitize=fuzzer-no-link, see brimwell_target_settings) plus the address and
# undefined-behaviour sanitizers. Its test runs libFuzzer for BRIMWELL_FUZZ_SECONDS and prints
# the final coverage. Otherwise the harness is linked with a replay driver that feeds it
# generated inputs built from the dictionary's tokens, as a fast unit test.
option(BRIMWELL_FUZZ "Build the fuzz targets with libFuzzer and instrument the code they test" OFF)
set(BRIMWELL_FUZZ_SECONDS 20 CACHE STRING "How long each fuzz target runs under libFuzzer")

if(BRIMWELL_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "BRIMWELL_FUZZ needs clang (libFuzzer); use the fuzz preset")
endif()

# Built by the fuzz preset: every fuzz target and what it links, nothing else.
if(NOT TARGET fuzz_targets)
  add_custom_target(fuzz_targets)
endif()

set(BRIMWELL_FUZZ_REPLAY_MAIN ${CMAKE_CURRENT_LIST_DIR}/../tests/support/fuzz_replay_main.cpp)
set(BRIMWELL_FUZZ_RUNNER ${CMAKE_CURRENT_LIST_DIR}/RunFuzzTarget.cmake)

function(brimwell_add_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_SOURCES)
    set(ARG_SOURCES ${name}.cpp)
  endif()
  set(dict ${CMAKE_CURRENT_SOURCE_DIR}/${name}.dict)
  if(NOT EXISTS ${dict})
    set(dict "")
  endif()

  if(BRIMWELL_FUZZ)
    add_executable(${name} ${ARG_SOURCES})
    brimwell_target_settings(${name})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    add_dependencies(fuzz_targets ${name})
    add_test(NAME ${name}
             COMMAND ${CMAKE_COMMAND} -DFUZZER=$<TARGET_FILE:${name}> -DNAME=${name}
                     -DSECONDS=${BRIMWELL_FUZZ_SECONDS} -DDICT=${dict}
                     -DWORK=${CMAKE_CURRENT_BINARY_DIR}/${name}.work -P ${BRIMWELL_FUZZ_RUNNER})
    math(EXPR timeout "${BRIMWELL_FUZZ_SECONDS} * 3 + 60")
    set_tests_properties(${name} PROPERTIES LABELS "fuzz" TIMEOUT ${timeout})
  elseif(NOT BRIMWELL_SANITIZE STREQUAL "thread")
    brimwell_add_test(${name} SOURCES ${ARG_SOURCES} ${BRIMWELL_FUZZ_REPLAY_MAIN}
                      LIBS ${ARG_LIBS} LABELS unit fuzz)
    if(dict)
      set_tests_properties(${name} PROPERTIES ENVIRONMENT "BRIMWELL_FUZZ_DICT=${dict}")
    endif()
  endif()
endfunction()
