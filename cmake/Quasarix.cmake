# Shared build rules: warnings, sanitizers, and the helpers that every library, test,
# benchmark and fuzz target is declared with.

set(QX_WARNING_FLAGS -Wall -Wextra)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC 12 reports false -Wrestrict errors inside std::string concatenation at -O3.
    list(APPEND QX_WARNING_FLAGS -Wno-restrict)
endif()
if(QX_WERROR)
    list(APPEND QX_WARNING_FLAGS -Werror)
endif()

if(QX_SANITIZE)
    string(REPLACE "," ";" _qx_sanitizers "${QX_SANITIZE}")
    foreach(_s IN LISTS _qx_sanitizers)
        if(NOT _s MATCHES "^(address|undefined|thread|leak)$")
            message(FATAL_ERROR "QX_SANITIZE: unknown sanitizer '${_s}' (use address,undefined or thread)")
        endif()
    endforeach()
    if("thread" IN_LIST _qx_sanitizers AND "address" IN_LIST _qx_sanitizers)
        message(FATAL_ERROR "QX_SANITIZE: thread and address cannot be combined")
    endif()
    add_compile_options(-fsanitize=${QX_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${QX_SANITIZE})
endif()

if(QX_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "QX_FUZZ needs clang (configure with CXX=clang++)")
    endif()
    # Everything is instrumented for coverage; only the fuzz executables link the driver.
    # A sanitizer report must stop the run so the fuzzer records it as a finding.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

set(QX_LIBRARIES_DIR ${PROJECT_SOURCE_DIR}/Libraries)

# qx_add_library(NAME [PUBLIC deps...] [PRIVATE deps...])
# A static library from every source under Libraries/NAME; the include root is Libraries/.
function(qx_add_library name)
    cmake_parse_arguments(ARG "" "" "PUBLIC;PRIVATE" ${ARGN})
    file(GLOB_RECURSE _sources CONFIGURE_DEPENDS
        ${QX_LIBRARIES_DIR}/${name}/*.cpp ${QX_LIBRARIES_DIR}/${name}/*.h)
    add_library(${name} STATIC ${_sources})
    target_include_directories(${name} PUBLIC ${QX_LIBRARIES_DIR})
    target_compile_options(${name} PRIVATE ${QX_WARNING_FLAGS})
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
endfunction()

# qx_add_host_library(NAME [PUBLIC deps...] [PRIVATE deps...])
# A static library from every source under Host/NAME; includes name it ("Importers/X.h").
function(qx_add_host_library name)
    cmake_parse_arguments(ARG "" "" "PUBLIC;PRIVATE" ${ARGN})
    file(GLOB_RECURSE _sources CONFIGURE_DEPENDS
        ${PROJECT_SOURCE_DIR}/Host/${name}/*.cpp ${PROJECT_SOURCE_DIR}/Host/${name}/*.h)
    add_library(${name} STATIC ${_sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/Host)
    target_compile_options(${name} PRIVATE ${QX_WARNING_FLAGS})
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
endfunction()

# qx_add_test(NAME [DEPS...]): one GoogleTest executable from Tests/NAME/*.cpp.
# Test names carry the library as prefix ("System.JobScheduler..."). Tests find their data,
# the source tree and the fuzz seed folder through Tests/Support/Paths.h.
function(qx_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "DEPS" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    file(GLOB_RECURSE _sources CONFIGURE_DEPENDS
        ${PROJECT_SOURCE_DIR}/Tests/${name}/*.cpp ${PROJECT_SOURCE_DIR}/Tests/${name}/*.h)
    set(_target ${name}Tests)
    add_executable(${_target} ${_sources})
    target_compile_options(${_target} PRIVATE ${QX_WARNING_FLAGS})
    target_include_directories(${_target} PRIVATE ${PROJECT_SOURCE_DIR}/Tests)
    target_link_libraries(${_target} PRIVATE ${ARG_DEPS} QxTestSupport GTest::gmock)
    gtest_discover_tests(${_target}
        TEST_PREFIX "${name}."
        DISCOVERY_TIMEOUT 60
        PROPERTIES TIMEOUT ${ARG_TIMEOUT}
                   ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# qx_add_benchmark(NAME SOURCES... DEPS ...)
function(qx_add_benchmark name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_compile_options(${name} PRIVATE ${QX_WARNING_FLAGS})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
endfunction()

# qx_add_fuzzer(NAME SOURCE DEPS ...): a libFuzzer executable (only with QX_FUZZ).
function(qx_add_fuzzer name)
    cmake_parse_arguments(ARG "" "SOURCE" "DEPS" ${ARGN})
    add_executable(${name} ${ARG_SOURCE})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzzers)
    add_dependencies(fuzzers ${name})
endfunction()
