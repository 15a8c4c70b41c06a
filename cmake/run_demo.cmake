# Runs fixfir on the shipped example in a directory of its own, answering its
# questions from examples/answers.txt.
file(MAKE_DIRECTORY "${OUT_DIR}")
file(COPY "${EXAMPLE_DIR}/taps.txt" DESTINATION "${OUT_DIR}")
execute_process(
  COMMAND "${FIXFIR}"
  WORKING_DIRECTORY "${OUT_DIR}"
  INPUT_FILE "${EXAMPLE_DIR}/answers.txt"
  RESULT_VARIABLE status)
message("")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "fixfir ended with status ${status}")
endif()
message("fixfir wrote ${OUT_DIR}/waves.txt and ${OUT_DIR}/frequency.txt")
