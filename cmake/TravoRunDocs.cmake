# Builds the documentation site with one Sphinx builder: Doxygen's XML of
# the public headers first, then sphinx-build with every warning an error.
#
# Variables: SOURCE_DIR, BINARY_DIR, PYTHON, DOXYGEN, BUILDER (html, doctest
# or another Sphinx builder). Output: BINARY_DIR/docs/BUILDER. Every page is read
# afresh (-E), so that no warning of an earlier build is skipped.
cmake_minimum_required(VERSION 3.25)

set(out "${BINARY_DIR}/docs")
file(MAKE_DIRECTORY "${out}/doxygen")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env "TRAVO_SOURCE_DIR=${SOURCE_DIR}" "TRAVO_BINARY_DIR=${BINARY_DIR}"
          "TRAVO_DOXYGEN_DIR=${out}/doxygen" "${DOXYGEN}" "${SOURCE_DIR}/docs/Doxyfile"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "Doxygen failed (every public declaration needs its comment in the header)")
endif()

execute_process(
  COMMAND ${CMAKE_COMMAND} -E env "TRAVO_BUILD_DIR=${BINARY_DIR}" "TRAVO_DOXYGEN_XML=${out}/doxygen/xml"
          "PYTHONDONTWRITEBYTECODE=1"
          "${PYTHON}" -m sphinx -E -W --keep-going -q -b ${BUILDER} -d "${out}/doctrees-${BUILDER}"
          "${SOURCE_DIR}/docs" "${out}/${BUILDER}"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "Sphinx (${BUILDER}) failed")
endif()
