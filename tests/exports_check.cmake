# Lists the dynamic symbols that a shared libtravo exports and fails on any
# that is not part of its public C or C++ interface: the core
# (travo::core), the C++ interface's details, the host allocator and its
# test hooks stay inside. Weak instantiations of standard templates are the
# compiler's, not travo's, and are passed over, as are AddressSanitizer's
# indicators of exported variables (__odr_asan.NAME).
execute_process(COMMAND ${NM} -D -C --defined-only ${LIBRARY} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(bad "")
set(public "")
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) (.+)$")
    continue()
  endif()
  set(type "${CMAKE_MATCH_1}")
  set(name "${CMAKE_MATCH_2}")
  if((type MATCHES "^[VWuv]$" AND name MATCHES "(^| )(std|__gnu_cxx)::") OR name MATCHES "^__odr_asan[._]")
    continue()
  endif()
  if(name MATCHES "^(TRAVO_|ranf_|travo_member_|travo_params_|travo_status_name$|travo_kind_name$)"
     OR (name MATCHES "^((typeinfo|typeinfo name|vtable) for )?travo::"
         AND NOT name MATCHES "travo::(core|detail|host|testing)::|travo::Member::Impl"))
    list(APPEND public "${name}")
  else()
    list(APPEND bad "${type} ${name}")
  endif()
endforeach()
list(JOIN public "\n  " public_text)
message(STATUS "exported by ${LIBRARY}:\n  ${public_text}")
if(bad)
  list(JOIN bad "\n  " bad_text)
  message(FATAL_ERROR "${LIBRARY} exports symbols outside its public interface:\n  ${bad_text}")
endif()
foreach(name "TRAVO_arg_generate" "TRAVO_dim" "ranf_array" "travo::generate(travo::Parameters const&)"
             "travo::Member::values(" "typeinfo for travo::Error" "travo::Parameters::in_cube(" "travo_member_new")
  string(FIND "${out}" "${name}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${LIBRARY} does not export ${name}")
  endif()
endforeach()
