# ctest script: install, configure the consumer, build it, run it.
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")

function(run step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${step} failed (${rc}):\n${out}\n${err}")
  endif()
  message(STATUS "${step}: ok")
  set(LAST_OUTPUT "${out}" PARENT_SCOPE)
endfunction()

run("install" ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")
run("installed checker" "${prefix}/bin/tev-conform" --list)
if(NOT LAST_OUTPUT MATCHES "job.abort")
  message(FATAL_ERROR "tev-conform --list printed: ${LAST_OUTPUT}")
endif()
# A sanitizer build installs instrumented libraries: the consumer must link
# the same runtime.
set(consumer_flags "")
if(SANITIZE STREQUAL "address")
  set(consumer_flags "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined")
elseif(SANITIZE STREQUAL "thread")
  set(consumer_flags "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread")
endif()
run("configure consumer" ${CMAKE_COMMAND} -S "${CONSUMER_DIR}" -B "${WORK_DIR}/consumer"
    "-DCMAKE_PREFIX_PATH=${prefix}" ${consumer_flags})
run("build consumer" ${CMAKE_COMMAND} --build "${WORK_DIR}/consumer")
run("run consumer" "${WORK_DIR}/consumer/consumer")
if(NOT LAST_OUTPUT MATCHES "round trip ok")
  message(FATAL_ERROR "consumer printed: ${LAST_OUTPUT}")
endif()
