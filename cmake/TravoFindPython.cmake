# Finds what the Python package needs: a Python 3 interpreter that has numpy,
# its development files, and pybind11. Sets TRAVO_PYTHON_FOUND, or leaves it
# OFF with TRAVO_PYTHON_MISSING saying what is missing.
#
# The first python3 on PATH is not always the one with numpy (a pyenv or
# other private interpreter may come first), so unless Python3_EXECUTABLE is
# given, the interpreters on PATH and the system's are tried in turn and the
# first that imports numpy is used.
set(TRAVO_PYTHON_FOUND OFF)
set(TRAVO_PYTHON_MISSING "")
if(NOT Python3_EXECUTABLE)
  find_program(TRAVO_PYTHON_ON_PATH NAMES python3 NO_CACHE)
  set(candidates ${TRAVO_PYTHON_ON_PATH} /usr/bin/python3 /usr/local/bin/python3)
  list(REMOVE_DUPLICATES candidates)
  foreach(candidate IN LISTS candidates)
    if(EXISTS "${candidate}")
      execute_process(COMMAND "${candidate}" -c "import numpy" RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
      if(rc EQUAL 0)
        set(Python3_EXECUTABLE "${candidate}" CACHE FILEPATH "Python 3 interpreter for the travo package")
        break()
      endif()
    endif()
  endforeach()
  if(NOT Python3_EXECUTABLE)
    set(TRAVO_PYTHON_MISSING "no Python 3 interpreter with numpy (tried ${candidates}; install python3-numpy)")
    return()
  endif()
endif()
find_package(Python3 QUIET COMPONENTS Interpreter Development.Module NumPy)
if(NOT Python3_Interpreter_FOUND OR NOT Python3_NumPy_FOUND)
  set(TRAVO_PYTHON_MISSING "${Python3_EXECUTABLE} has no numpy (install python3-numpy)")
  return()
endif()
if(NOT Python3_Development.Module_FOUND)
  set(TRAVO_PYTHON_MISSING "no development files for ${Python3_EXECUTABLE} (install python3-dev)")
  return()
endif()
find_package(pybind11 CONFIG QUIET)
if(NOT pybind11_FOUND)
  set(TRAVO_PYTHON_MISSING "pybind11 not found (install pybind11-dev)")
  return()
endif()
set(TRAVO_PYTHON_FOUND ON)
