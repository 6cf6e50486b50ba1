# Checks that the module exports exactly its entries (EXPECTED, a sorted
# list; default mexFunction;mexVersion) and nothing else: in particular not
# the allocator that travo_member.mex carries for itself.
# Usage: cmake -DNM=<nm> -DMODULE=<travo.mex> [-DEXPECTED=<names>] -P exported_symbols.cmake
if(NOT DEFINED EXPECTED)
  set(EXPECTED "mexFunction;mexVersion")
endif()
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
if(NOT names STREQUAL EXPECTED)
  message(FATAL_ERROR "exported symbols of ${MODULE}: ${names}; expected ${EXPECTED}")
endif()
message(STATUS "exported symbols: ${names}")
