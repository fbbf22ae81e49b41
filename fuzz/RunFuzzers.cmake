# cmake -DTARGETS=<name|program|max_len|dict,...> -DSECONDS=<n> -DSOURCE_DIR=<fuzz/>
#       -DWORK_DIR=<build dir> -P RunFuzzers.cmake
#
# Runs each fuzz target for SECONDS. New inputs go to WORK_DIR/corpus/<name>/
# (the repository's corpus and regression folders are read, never written);
# crash, timeout and out-of-memory inputs land in WORK_DIR/crashes/<name>/.
# Every target runs even after another has failed; the script fails at the
# end when a fuzzer failed or left a new file in its crash folder.
string(REPLACE "," ";" targets "${TARGETS}")
set(failed "")
foreach(target ${targets})
  string(REPLACE "|" ";" fields "${target}")
  list(GET fields 0 name)
  list(GET fields 1 program)
  list(GET fields 2 max_len)
  list(LENGTH fields n)
  set(dict "")
  if(n GREATER 3)
    list(GET fields 3 dict)
  endif()
  set(work "${WORK_DIR}/corpus/${name}")
  set(crashes "${WORK_DIR}/crashes/${name}")
  file(MAKE_DIRECTORY "${work}" "${crashes}")
  file(GLOB crashes_before "${crashes}/*")

  set(options -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=2048 -max_len=${max_len}
              -print_final_stats=1 "-artifact_prefix=${crashes}/")
  if(dict)
    list(APPEND options "-dict=${dict}")
  endif()
  message(STATUS "Fuzzing ${name} for ${SECONDS} s")
  execute_process(
    COMMAND "${program}" ${options} "${work}" "${SOURCE_DIR}/corpus/${name}" "${SOURCE_DIR}/regressions/${name}"
    RESULT_VARIABLE rc)

  file(GLOB crashes_after "${crashes}/*")
  list(REMOVE_ITEM crashes_after ${crashes_before} "")
  if(NOT rc EQUAL 0 OR crashes_after)
    string(REPLACE ";" " " new_files "${crashes_after}")
    list(APPEND failed "${name}: exit ${rc}, new files: ${new_files}")
  endif()
endforeach()

if(failed)
  string(REPLACE ";" "\n  " failed "${failed}")
  message(FATAL_ERROR "Fuzzing found failures:\n  ${failed}\n"
                      "Reproduce with: <fuzz program> <crash file>")
endif()
message(STATUS "Fuzzing found nothing")
