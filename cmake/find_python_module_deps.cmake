# Finds what the Python module needs: an interpreter that imports numpy, its development
# files, and pybind11. Sets FIXFIR_PYTHON_FOUND, and FIXFIR_PYTHON_INSTALL_DIR (relative to
# the install prefix, so that `cmake --install --prefix` moves it along).
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

# Where this Python looks for modules under a prefix: lib/python3.X/dist-packages on
# Debian (/usr/local/lib/python3.11/dist-packages for the default prefix), site-packages
# elsewhere.
execute_process(
  COMMAND ${Python3_EXECUTABLE} -c
    "import os, sysconfig; print(os.path.basename(sysconfig.get_path('platlib')))"
  OUTPUT_VARIABLE _site_name OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT _site_name)
  set(_site_name site-packages)
endif()
set(FIXFIR_PYTHON_INSTALL_DIR
  "lib/python${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}/${_site_name}"
  CACHE STRING "Where `cmake --install` puts the Python module, under the prefix")
set(FIXFIR_PYTHON_FOUND ON)
message(STATUS "Python module: for ${Python3_EXECUTABLE}, installed to <prefix>/${FIXFIR_PYTHON_INSTALL_DIR}")
