# Installation of travo: the library with both interfaces' headers, the
# command-line tool, a CMake package (find_package(travo) -> travo::travo), a
# pkg-config file, the manual page travo.1, and the Octave module when it is
# built (target travo_mex).
include(CMakePackageConfigHelpers)

set(TRAVO_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/travo" CACHE STRING
    "Folder, relative to the install prefix, of travo's CMake package")
mark_as_advanced(TRAVO_INSTALL_CMAKEDIR)

install(TARGETS travo EXPORT travoTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES
  ${PROJECT_SOURCE_DIR}/include/travo/travo.h
  ${PROJECT_SOURCE_DIR}/include/travo/member.h
  ${PROJECT_SOURCE_DIR}/include/travo/travo.hpp
  ${PROJECT_SOURCE_DIR}/include/travo/export.h
  ${PROJECT_BINARY_DIR}/include/travo/version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/travo)
if(TARGET travo_cli)
  install(TARGETS travo_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET travo_man)
  install(FILES ${TRAVO_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# CMake package.
install(EXPORT travoTargets NAMESPACE travo:: FILE travoTargets.cmake
        DESTINATION ${TRAVO_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/travoConfig.cmake.in
  ${PROJECT_BINARY_DIR}/travoConfig.cmake
  INSTALL_DESTINATION ${TRAVO_INSTALL_CMAKEDIR})
# Before 1.0 a minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/travoConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/travoConfig.cmake ${PROJECT_BINARY_DIR}/travoConfigVersion.cmake
        DESTINATION ${TRAVO_INSTALL_CMAKEDIR})

# pkg-config file, relocatable: the prefix is found from the file's folder.
set(_travo_pcdir "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(TRAVO_PC_PREFIX_FROM_PCDIR "")
  set(TRAVO_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(TRAVO_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
  set(_travo_pcdir "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig")
else()
  file(RELATIVE_PATH TRAVO_PC_PREFIX_FROM_PCDIR "/travo-prefix/${_travo_pcdir}" "/travo-prefix")
  string(REGEX REPLACE "/$" "" TRAVO_PC_PREFIX_FROM_PCDIR "${TRAVO_PC_PREFIX_FROM_PCDIR}")
  set(TRAVO_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(TRAVO_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
# The library is written in C++ and uses the mathematics library and
# threads; a static build hands them to its users. The C++ interface needs
# C++20, which a C compiler ignores with a warning at most.
get_target_property(_travo_type travo TYPE)
set(_travo_pc_deps "-lstdc++ -lm -pthread")
set(TRAVO_PC_CFLAGS "-std=c++20 -pthread")
if(_travo_type STREQUAL "STATIC_LIBRARY")
  set(TRAVO_PC_LIBS "${_travo_pc_deps}")
  set(TRAVO_PC_LIBS_PRIVATE "")
  string(APPEND TRAVO_PC_CFLAGS " -DTRAVO_STATIC_DEFINE")
else()
  set(TRAVO_PC_LIBS "")
  set(TRAVO_PC_LIBS_PRIVATE "${_travo_pc_deps}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/travo.pc.in ${PROJECT_BINARY_DIR}/travo.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/travo.pc DESTINATION ${_travo_pcdir})

# The Octave module goes to Octave's site folder for compiled functions,
# taken relative to Octave's home and placed under the install prefix (so
# that a prefix of /usr gives Octave's own folder and any other prefix keeps
# the install inside it). TRAVO_OCTAVE_SITE_DIR overrides the folder,
# relative to the prefix or absolute.
set(TRAVO_OCTAVE_SITE_DIR "" CACHE STRING
    "Folder receiving the Octave module, relative to the install prefix or absolute (empty: Octave's site folder)")

function(travo_octave_site_dir out)
  find_program(TRAVO_OCTAVE_CONFIG octave-config)
  find_program(TRAVO_MKOCTFILE mkoctfile)
  set(site "")
  set(home "")
  if(TRAVO_OCTAVE_CONFIG)
    execute_process(COMMAND ${TRAVO_OCTAVE_CONFIG} --oct-site-dir OUTPUT_VARIABLE site
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND ${TRAVO_OCTAVE_CONFIG} -p OCTAVE_HOME OUTPUT_VARIABLE home
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if((site STREQUAL "" OR home STREQUAL "") AND TRAVO_MKOCTFILE)
    execute_process(COMMAND ${TRAVO_MKOCTFILE} -p LOCALVEROCTFILEDIR OUTPUT_VARIABLE site
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND ${TRAVO_MKOCTFILE} -p OCTAVE_HOME OUTPUT_VARIABLE home
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  set(dir "${CMAKE_INSTALL_LIBDIR}/octave/site/oct")
  if(IS_ABSOLUTE "${site}" AND IS_ABSOLUTE "${home}")
    file(RELATIVE_PATH rel "${home}" "${site}")
    if(NOT rel STREQUAL "" AND NOT rel MATCHES "^\\.\\.")
      set(dir "${rel}")
    endif()
  endif()
  set(${out} "${dir}" PARENT_SCOPE)
endfunction()

# Runs once the whole project is read, so that the Octave module's target is
# known wherever it is defined.
function(travo_install_octave_module)
  if(NOT TARGET travo_mex)
    return()
  endif()
  set(dir "${TRAVO_OCTAVE_SITE_DIR}")
  if(dir STREQUAL "")
    travo_octave_site_dir(dir)
  endif()
  message(STATUS "travo: the Octave module installs to ${dir}")
  get_target_property(type travo_mex TYPE)
  if(type MATCHES "^(MODULE_LIBRARY|SHARED_LIBRARY|EXECUTABLE)$")
    install(TARGETS travo_mex LIBRARY DESTINATION "${dir}" RUNTIME DESTINATION "${dir}")
  else()
    # A custom target built by Octave's own tools: its file is named by the
    # target property TRAVO_MEX_FILE, or is travo.mex in its build folder.
    get_target_property(file travo_mex TRAVO_MEX_FILE)
    if(NOT file)
      get_target_property(bin travo_mex BINARY_DIR)
      set(file "${bin}/travo.mex")
    endif()
    install(FILES "${file}" DESTINATION "${dir}")
  endif()
  # The second entry and the help texts, which Octave and MATLAB read from
  # .m files beside the modules.
  if(TARGET travo_member_mex)
    install(TARGETS travo_member_mex LIBRARY DESTINATION "${dir}")
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/octave/inst/travo.m ${PROJECT_SOURCE_DIR}/octave/inst/travo_member.m
          DESTINATION "${dir}")
endfunction()
cmake_language(DEFER CALL travo_install_octave_module)
