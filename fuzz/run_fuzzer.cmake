# Runs a libFuzzer target for a bounded time from a committed corpus:
#   cmake -DFUZZER=<binary> -DCORPUS=<seed folder> -DWORK=<scratch folder> -P run_fuzzer.cmake
# The length is $ENV{SKARVEL_FUZZ_SECONDS} seconds (default 20). New inputs go
# to WORK/new-inputs, found faults to WORK/artifacts; the corpus is only read,
# and the run fails if it changed. On a fault it names the input that
# reproduces it.
cmake_minimum_required(VERSION 3.25)
set(seconds 20)
if(DEFINED ENV{SKARVEL_FUZZ_SECONDS})
  set(seconds $ENV{SKARVEL_FUZZ_SECONDS})
endif()
# (libFuzzer reads 0 as no limit)
if(NOT seconds MATCHES "^[0-9]+$" OR seconds LESS 1)
  message(FATAL_ERROR "SKARVEL_FUZZ_SECONDS wants a whole number of seconds, 1 or more, not \"${seconds}\"")
endif()

file(GLOB seeds "${CORPUS}/*")
if(NOT seeds)
  message(FATAL_ERROR "the seed corpus ${CORPUS} is missing or empty")
endif()

function(corpus_digest out)
  file(GLOB files "${CORPUS}/*")
  list(SORT files)
  set(all "")
  foreach(file IN LISTS files)
    file(SHA1 "${file}" digest)
    string(APPEND all "${file} ${digest}\n")
  endforeach()
  set(${out} "${all}" PARENT_SCOPE)
endfunction()

set(inputs "${WORK}/new-inputs")
set(artifacts "${WORK}/artifacts")
file(REMOVE_RECURSE "${inputs}" "${artifacts}")
file(MAKE_DIRECTORY "${inputs}" "${artifacts}")
corpus_digest(before)
# libFuzzer adds new inputs to its first corpus folder: the scratch one.
math(EXPR limit "${seconds} + 120")
execute_process(
  COMMAND "${FUZZER}" -max_total_time=${seconds} -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
          "-artifact_prefix=${artifacts}/" "${inputs}" "${CORPUS}"
  TIMEOUT ${limit}
  RESULT_VARIABLE status
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
corpus_digest(after)
file(REMOVE_RECURSE "${inputs}")

if(NOT status EQUAL 0)
  file(GLOB found "${artifacts}/*")
  set(reproduce "")
  foreach(artifact IN LISTS found)
    string(APPEND reproduce "\nreproduce: ${FUZZER} ${artifact}")
  endforeach()
  message(FATAL_ERROR "${output}\nthe fuzzer ended with ${status}${reproduce}")
endif()
if(NOT before STREQUAL after)
  message(FATAL_ERROR "the fuzz run changed the committed corpus ${CORPUS}")
endif()
# The figures worth a glance: seeds read, executions, new inputs, memory.
string(REGEX MATCHALL "(INFO: seed corpus[^\n]*|#[0-9]+[ \t]+(INITED|DONE)[^\n]*|stat::(number_of_executed_units|new_units_added|peak_rss_mb)[^\n]*)"
       figures "${output}")
list(JOIN figures "\n" figures)
message("${figures}")
