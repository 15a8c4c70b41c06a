# Finds what the Python module needs: an interpreter that imports numpy, its development
# files, and pybind11. Sets FIXFIR_PYTHON_FOUND.
#
# The first python3 on the PATH may be a private one without numpy (a version manager's);
# the system's /usr/bin/python3 is tried next. Set Python3_EXECUTABLE to choose another.
set(FIXFIR_PYTHON_FOUND OFF)
if(NOT DEFINED Python3_EXECUTABLE)
  find_program(_fixfir_path_python NAMES python3 NO_CACHE)
  foreach(_candidate IN ITEMS ${_fixfir_path_python} /usr/bin/python3)
    execute_process(COMMAND ${_candidate} -c "import numpy"
      RESULT_VARIABLE _numpy_missing OUTPUT_QUIET ERROR_QUIET)
    if(_numpy_missing EQUAL 0)
      set(Python3_EXECUTABLE ${_candidate} CACHE FILEPATH "The Python the module is built for")
      break()
    endif()
  endforeach()
endif()
if(NOT DEFINED Python3_EXECUTABLE)
  message(STATUS "Python module: no python3 that imports numpy (python3-numpy); not built")
  return()
endif()

find_package(Python3 COMPONENTS Interpreter Development.Module)
find_package(pybind11 CONFIG QUIET)
if(NOT Python3_FOUND OR NOT pybind11_FOUND)
  message(STATUS "Python module: needs python3-dev and pybind11-dev; not built")
  return()
endif()

set(FIXFIR_PYTHON_FOUND ON)
