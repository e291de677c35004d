# Runs one fuzzer over its whole corpus, read only, then seeded mutations for some seconds:
#   cmake -DFUZZER=<exe> -DCORPUS=<dir> -DWORK=<dir> -DSECONDS=<n> [-DDICT=<file>] -P replay_corpus.cmake
# libFuzzer writes new inputs into the first folder it is given, so that one is a fresh folder
# under the build tree; a crashing input is saved there too.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/new)
file(GLOB seeds ${CORPUS}/*)
list(LENGTH seeds count)
if(count EQUAL 0)
  message(FATAL_ERROR "empty corpus: ${CORPUS}")
endif()
set(options -max_total_time=${SECONDS} -seed=1 -artifact_prefix=${WORK}/ -print_final_stats=1)
if(DICT)
  list(APPEND options -dict=${DICT})
endif()
execute_process(COMMAND ${FUZZER} ${options} ${WORK}/new ${CORPUS} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${rc}); the input is in ${WORK}")
endif()
