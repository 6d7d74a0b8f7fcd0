# Fails unless the dynamic symbols that MODULE defines are exactly the plugin's entry points.
# Run as: cmake -DMODULE=<path> -P CheckExports.cmake
execute_process(COMMAND nm -D --defined-only ${MODULE}
                OUTPUT_VARIABLE _symbols RESULT_VARIABLE _result)
if(NOT _result EQUAL 0)
    message(FATAL_ERROR "nm failed on ${MODULE}")
endif()
string(REGEX MATCHALL "[^\n]+" _lines "${_symbols}")
set(_names "")
foreach(_line IN LISTS _lines)
    # "<address> <kind> <name>"; version nodes that the linker adds are type A.
    if(_line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) (.+)$" AND NOT CMAKE_MATCH_1 STREQUAL "A")
        list(APPEND _names ${CMAKE_MATCH_2})
    endif()
endforeach()
list(SORT _names)
set(_expected VelkorAPI_GetAPI createZivuDeverUdovIradir destroyZivuDeverUdovIradir initializeTracing
              moduleDescriptor)
list(SORT _expected)
if(NOT _names STREQUAL _expected)
    message(FATAL_ERROR "unexpected exports of ${MODULE}:\n  found:    ${_names}\n  expected: ${_expected}")
endif()
message(STATUS "exports: ${_names}")
