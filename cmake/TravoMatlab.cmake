# The MATLAB module travo.<mexext>, built with MATLAB's own mex.h, libmx and
# libmex when CMake's FindMatlab finds a MATLAB installation (set
# Matlab_ROOT_DIR to choose one). Load it with addpath of its directory.
find_package(Matlab QUIET COMPONENTS MX_LIBRARY)
if(Matlab_FOUND)
  matlab_add_mex(NAME travo_matlab_mex MODULE
    SRC $<TARGET_OBJECTS:travo_core> ${TRAVO_GATEWAY_SOURCES}
    OUTPUT_NAME travo
    R2017b)
  target_include_directories(travo_matlab_mex PRIVATE ${TRAVO_PUBLIC_INCLUDE_DIRS} ${PROJECT_SOURCE_DIR}/src)
  set_target_properties(travo_matlab_mex PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/matlab)
  message(STATUS "MATLAB ${Matlab_VERSION_STRING} found: building travo_matlab_mex")
else()
  message(STATUS "MATLAB not found: travo_matlab_mex is not built")
endif()
