# Checks that the module exports exactly mexFunction and mexVersion.
# Usage: cmake -DNM=<nm> -DMODULE=<travo.mex> -P exported_symbols.cmake
execute_process(COMMAND ${NM} -D --defined-only ${MODULE}
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${MODULE}")
endif()
string(REGEX MATCHALL "[ \t][A-Za-z][ \t]+[^ \t\r\n]+" entries "${out}")
set(names "")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^[ \t][A-Za-z][ \t]+" "" name "${entry}")
  list(APPEND names ${name})
endforeach()
list(SORT names)
if(NOT names STREQUAL "mexFunction;mexVersion")
  message(FATAL_ERROR "exported symbols of ${MODULE}: ${names}; expected mexFunction;mexVersion")
endif()
message(STATUS "exported symbols: ${names}")
