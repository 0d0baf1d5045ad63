# cmake -P script: install BUILD_DIR into WORK_DIR/prefix, check the installed files, then
# configure, build and run the consumer in CONSUMER_DIR against that prefix.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "failed (${status}): ${command}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

set(expected
  bin/lirvo bin/tally-standin bin/lirvo-mdb-reader bin/SampleData.mdb bin/SampleSource.sqlite
  include/lirvo/modTally.h include/lirvo/modTallyIm.h
  lib/cmake/Lirvo/LirvoConfig.cmake lib/cmake/Lirvo/LirvoConfigVersion.cmake)
if(WITH_GUI)
  list(APPEND expected bin/lirvo-demo)
endif()
foreach(file ${expected})
  # The library folder may be lib64 on some systems; look in both.
  string(REPLACE "lib/" "lib64/" alternative ${file})
  if(NOT EXISTS ${prefix}/${file} AND NOT EXISTS ${prefix}/${alternative})
    message(FATAL_ERROR "not installed: ${prefix}/${file}")
  endif()
endforeach()

run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer -G ${GENERATOR}
  -D CMAKE_PREFIX_PATH=${prefix}
  -D CMAKE_CXX_COMPILER=${CXX_COMPILER}
  -D CMAKE_CXX_FLAGS=${CXX_FLAGS})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${WORK_DIR}/consumer/lirvo_consumer)
foreach(wanted "<UNIT NAME=\"Box\" ACTION=\"Create\">" "<SVCURRENTCOMPANY>Lee &amp; Co</SVCURRENTCOMPANY>")
  string(FIND "${run_output}" "${wanted}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the consumer's request lacks ${wanted}:\n${run_output}")
  endif()
endforeach()
message(STATUS "installed package works: ${run_output}")
