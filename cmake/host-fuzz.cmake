# libFuzzer targets; they need clang's fuzzer runtime, so other compilers skip them.
option(QUORIN_FUZZ "Build the libFuzzer targets (clang only)" OFF)
if(NOT QUORIN_FUZZ OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    return()
endif()

set(QUORIN_FUZZ_SANITIZERS address,undefined)

# The code under test gets the coverage instrumentation without the fuzzer's
# main; only the executables link the fuzzer runtime.
set(QUORIN_FUZZ_CORE_SOURCES ${QUORIN_STUB_SOURCES})
foreach(source ${QUORIN_SOURCES})
    list(APPEND QUORIN_FUZZ_CORE_SOURCES ${PROJECT_SOURCE_DIR}/${source})
endforeach()
add_library(quorin_fuzz_core OBJECT ${QUORIN_FUZZ_CORE_SOURCES})
target_include_directories(quorin_fuzz_core PUBLIC ${PROJECT_SOURCE_DIR}/winstub ${PROJECT_SOURCE_DIR})
target_compile_options(quorin_fuzz_core PUBLIC
    -fsanitize=fuzzer-no-link,${QUORIN_FUZZ_SANITIZERS}
    -fno-sanitize-recover=all -fno-omit-frame-pointer -g)

foreach(target cmdline_fuzz modelist_fuzz)
    add_executable(${target} ${PROJECT_SOURCE_DIR}/tests/fuzz/${target}.cpp)
    target_link_libraries(${target} PRIVATE quorin_fuzz_core)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer,${QUORIN_FUZZ_SANITIZERS})
endforeach()
