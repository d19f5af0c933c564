# Benchmark of the mode list rebuild: its own target, never run by ctest.
# Release numbers: configure with -DCMAKE_BUILD_TYPE=Release.
find_package(benchmark QUIET)
if(benchmark_FOUND)
    add_executable(modelist_bench ${PROJECT_SOURCE_DIR}/tests/bench/modelist_bench.cpp)
    target_link_libraries(modelist_bench PRIVATE quorin_core winstub benchmark::benchmark)
    add_executable(paths_bench ${PROJECT_SOURCE_DIR}/tests/bench/paths_bench.cpp)
    target_link_libraries(paths_bench PRIVATE quorin_core winstub benchmark::benchmark)
else()
    message(STATUS "Google Benchmark not found (Debian: libbenchmark-dev); the benchmarks are not built")
endif()
