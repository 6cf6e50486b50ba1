# Installs the build into a fresh prefix and proves the installed tree: the
# files are there (the manual page among them), a CMake project finds travo
# with find_package and a C program builds with pkg-config, and all of them
# run; the installed tool runs, and the Octave module is installed (and
# loads) when it was built.
# Then the same CMake project adds travo's source tree with add_subdirectory.
#
# Variables: BUILD_DIR, SOURCE_DIR, WORK_DIR, CONSUMER_DIR, C_COMPILER, CXX_COMPILER,
# GENERATOR, EXPECT_MEX (1 when the Octave module was built), EXPECT_MAN (1
# when the manual page was written), SANITIZE_FLAGS (link flags of a
# sanitizer build), OCTAVE_PRELOAD (sanitizer runtime that Octave must load
# first).
cmake_minimum_required(VERSION 3.25)

function(run)
  cmake_parse_arguments(R "" "WORKING_DIRECTORY;OUTPUT" "" ${ARGN})
  if(NOT R_WORKING_DIRECTORY)
    set(R_WORKING_DIRECTORY "${WORK_DIR}")
  endif()
  execute_process(COMMAND ${R_UNPARSED_ARGUMENTS} WORKING_DIRECTORY "${R_WORKING_DIRECTORY}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${R_UNPARSED_ARGUMENTS}\n${out}\n${err}")
  endif()
  message(STATUS "ok: ${R_UNPARSED_ARGUMENTS}")
  if(R_OUTPUT)
    set(${R_OUTPUT} "${out}" PARENT_SCOPE)
  endif()
endfunction()

function(expect_file pattern)
  file(GLOB_RECURSE found "${PREFIX}/${pattern}")
  if(NOT found)
    message(FATAL_ERROR "not installed: ${pattern}")
  endif()
endfunction()

set(PREFIX "${WORK_DIR}/prefix")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}")

expect_file("include/travo/travo.h")
expect_file("include/travo/travo.hpp")
expect_file("include/travo/export.h")
expect_file("include/travo/version.h")
expect_file("lib*/libtravo.*")
expect_file("bin/travo")
if(EXPECT_MAN)
  expect_file("share/man/man1/travo.1")
endif()
expect_file("lib*/cmake/travo/travoConfig.cmake")
expect_file("lib*/cmake/travo/travoConfigVersion.cmake")
expect_file("lib*/pkgconfig/travo.pc")

# The public headers stand alone: nothing of the library's sources.
file(GLOB headers "${PREFIX}/include/travo/*")
foreach(h IN LISTS headers)
  file(STRINGS "${h}" quoted_includes REGEX "#include \"")
  if(quoted_includes)
    message(FATAL_ERROR "${h} includes private headers: ${quoted_includes}")
  endif()
endforeach()

# A CMake project finds the package.
set(consumer_build "${WORK_DIR}/consumer-build")
run(${CMAKE_COMMAND} -S "${CONSUMER_DIR}" -B "${consumer_build}" -G "${GENERATOR}"
    "-DCMAKE_PREFIX_PATH=${PREFIX}" "-DCMAKE_C_COMPILER=${C_COMPILER}" "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}"
    "-DCMAKE_EXE_LINKER_FLAGS=${SANITIZE_FLAGS}")
run(${CMAKE_COMMAND} --build "${consumer_build}")
run("${consumer_build}/consumer_cpp")
run("${consumer_build}/consumer_c")

# A C program builds with pkg-config alone.
find_program(PKG_CONFIG pkg-config REQUIRED)
file(GLOB pcdir "${PREFIX}/lib*/pkgconfig")
run(${CMAKE_COMMAND} -E env "PKG_CONFIG_PATH=${pcdir}" ${PKG_CONFIG} --cflags --libs travo OUTPUT flags)
string(STRIP "${flags}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${C_COMPILER} "${CONSUMER_DIR}/consumer.c" ${flags} ${SANITIZE_FLAGS} -o "${WORK_DIR}/consumer_pc")
run("${WORK_DIR}/consumer_pc")

# A CMake project adds travo's source tree as a subproject: the library
# alone, built and used as the installed one is.
set(sub_build "${WORK_DIR}/subproject-build")
set(sub_sanitize OFF)
if(SANITIZE_FLAGS)
  set(sub_sanitize ON)
endif()
run(${CMAKE_COMMAND} -S "${CONSUMER_DIR}" -B "${sub_build}" -G "${GENERATOR}" "-DTRAVO_SUBPROJECT_DIR=${SOURCE_DIR}"
    "-DCMAKE_BUILD_TYPE=RelWithDebInfo" "-DTRAVO_SANITIZE=${sub_sanitize}" "-DCMAKE_EXE_LINKER_FLAGS=${SANITIZE_FLAGS}"
    "-DCMAKE_C_COMPILER=${C_COMPILER}" "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}")
run(${CMAKE_COMMAND} --build "${sub_build}" -j 2)
run("${sub_build}/consumer_cpp")
run("${sub_build}/consumer_c")

# The installed tool runs: two record lines, the header and ten rows.
run("${PREFIX}/bin/travo" info --format csv OUTPUT table)
string(REGEX MATCHALL "\n" lines "${table}")
list(LENGTH lines count)
if(NOT count EQUAL 13)
  message(FATAL_ERROR "installed travo info wrote ${count} lines:\n${table}")
endif()

# The Octave module, when it was built.
if(EXPECT_MEX)
  file(GLOB_RECURSE mex "${PREFIX}/*travo.mex")
  if(NOT mex)
    message(FATAL_ERROR "the Octave module was built but not installed")
  endif()
  find_program(OCTAVE_CLI NAMES octave-cli octave)
  if(OCTAVE_CLI)
    list(GET mex 0 module)
    get_filename_component(module_dir "${module}" DIRECTORY)
    set(octave_env "")
    if(OCTAVE_PRELOAD)
      set(octave_env ${CMAKE_COMMAND} -E env "LD_PRELOAD=${OCTAVE_PRELOAD}" "ASAN_OPTIONS=detect_leaks=0")
    endif()
    run(${octave_env} ${OCTAVE_CLI} --no-gui --norc --quiet --no-window-system --eval
        "addpath('${module_dir}'), exit(!isequal(size(travo(10, -1, 2/3, 1/3, 'info', 1)), [10 4]))")
  endif()
else()
  message(STATUS "the Octave module is not built: not checked")
endif()
