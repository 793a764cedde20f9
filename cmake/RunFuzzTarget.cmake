# Runs one libFuzzer target for a while and prints its final coverage; fails when the fuzzer
# found a crash, a leak or a sanitizer report (its log is printed then).
#   cmake -DFUZZER=<binary> -DNAME=<name> -DSECONDS=<n> -DWORK=<dir> [-DDICT=<file>] -P this
set(corpus ${WORK}/corpus)
set(log ${WORK}/fuzz.log)
file(MAKE_DIRECTORY ${corpus})
set(args -max_total_time=${SECONDS} -max_len=4096 -seed=1 -print_final_stats=1
         -artifact_prefix=${WORK}/)
if(DICT)
  list(APPEND args -dict=${DICT})
endif()
execute_process(COMMAND ${FUZZER} ${args} ${corpus}
                RESULT_VARIABLE status OUTPUT_FILE ${log} ERROR_FILE ${log})

file(STRINGS ${log} done REGEX "DONE +cov:")
file(STRINGS ${log} runs REGEX "^stat::number_of_executed_units:")
if(done)
  list(GET done -1 done)
  string(REGEX MATCH "cov: [0-9]+ ft: [0-9]+ corp: [0-9]+" coverage "${done}")
else()
  set(coverage "no final coverage")
endif()
string(REGEX REPLACE ".*: *" "" runs "${runs}")
message(NOTICE "${NAME}: ${SECONDS} s, ${runs} runs, final ${coverage}")
if(NOT status EQUAL 0)
  file(READ ${log} text)
  string(LENGTH "${text}" length)
  if(length GREATER 20000)
    math(EXPR start "${length} - 20000")
    string(SUBSTRING "${text}" ${start} -1 text)
  endif()
  message(NOTICE "${text}")
  message(FATAL_ERROR "${NAME} failed with status ${status}; artifacts in ${WORK}")
endif()
