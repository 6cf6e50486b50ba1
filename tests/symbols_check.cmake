# Fails when the library defines a global linker symbol with one of the
# short names that belong to travo's internals and could clash with a
# caller's own: delta, isArgSet, version, the random source's buffers.
execute_process(COMMAND ${NM} -g --defined-only ${LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
foreach(name delta isArgSet version ran_u rnd_num rnd_counter)
  if(symbols MATCHES "[ \t]${name}\n")
    message(FATAL_ERROR "global symbol '${name}' leaks from ${LIBRARY}")
  endif()
endforeach()
foreach(name TRAVO_arg_generate TRAVO_dim ranf_start ranf_array travo_member_new travo_member_values)
  if(NOT symbols MATCHES "[ \t]${name}\n")
    message(FATAL_ERROR "expected symbol '${name}' missing from ${LIBRARY}")
  endif()
endforeach()
