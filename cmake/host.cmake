# Host build: the program's code against the Win32 stand-in, driven by unit tests.
option(QUORIN_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(QUORIN_COVERAGE "Measure the unit tests' coverage of the program's code (clang only)" OFF)
if(QUORIN_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

find_package(GTest REQUIRED)
include(GoogleTest)

file(GLOB QUORIN_STUB_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/winstub/*.cpp)
add_library(winstub OBJECT ${QUORIN_STUB_SOURCES})
target_include_directories(winstub PUBLIC ${PROJECT_SOURCE_DIR}/winstub ${PROJECT_SOURCE_DIR})

add_library(quorin_core OBJECT ${QUORIN_SOURCES})
target_link_libraries(quorin_core PUBLIC winstub)

file(GLOB QUORIN_UNIT_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/unit/*.cpp)
add_executable(unit_tests ${QUORIN_UNIT_TESTS})
target_link_libraries(unit_tests PRIVATE quorin_core winstub GTest::gtest_main)
target_compile_definitions(unit_tests PRIVATE QUORIN_RECORDED_DIR="${PROJECT_SOURCE_DIR}/tests/recorded")
if(QUORIN_COVERAGE)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "QUORIN_COVERAGE needs clang (the coverage preset)")
    endif()
    # Only the program's own code is measured; one test runs every unit test
    # and fails below the threshold.
    target_compile_options(quorin_core PRIVATE -fprofile-instr-generate -fcoverage-mapping)
    target_link_options(unit_tests PRIVATE -fprofile-instr-generate)
    add_test(NAME coverage_threshold
        COMMAND ${PROJECT_SOURCE_DIR}/scripts/coverage.sh ${CMAKE_BINARY_DIR})
else()
    gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 30)
endif()

# Further host targets (benchmarks, fuzzers, ...) each keep their own fragment.
file(GLOB QUORIN_HOST_FRAGMENTS ${PROJECT_SOURCE_DIR}/cmake/host-*.cmake)
foreach(fragment ${QUORIN_HOST_FRAGMENTS})
    include(${fragment})
endforeach()
