# Runs fixfir-report on the shipped example in a directory of its own, with the
# precision and frequencies of examples/answers.txt; the sweep takes the answers' step,
# as fixfir's does, so its fixed-point curve is the demo's frequency.txt.
file(STRINGS "${EXAMPLE_DIR}/answers.txt" answers)
list(LENGTH answers count)
if(count LESS 4)
  message(FATAL_ERROR "${EXAMPLE_DIR}/answers.txt needs precision, initial, step and ending")
endif()
list(GET answers 0 precision)
list(GET answers 1 initial)
list(GET answers 2 step)
list(GET answers 3 ending)
foreach(v precision initial step ending)
  string(STRIP "${${v}}" ${v})
endforeach()

file(MAKE_DIRECTORY "${OUT_DIR}")
file(COPY "${EXAMPLE_DIR}/taps.txt" DESTINATION "${OUT_DIR}")
execute_process(
  COMMAND "${FIXFIR_REPORT}"
    --precision ${precision} --initial ${initial} --step ${step} --ending ${ending}
    --dir "${OUT_DIR}"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "fixfir-report ended with status ${status}")
endif()
