# DEFLATE throughput against zlib in the same run (see bench/deflate.md).
add_executable(bench_deflate ${CMAKE_CURRENT_SOURCE_DIR}/deflate_bench.cpp)
target_link_libraries(bench_deflate PRIVATE tarnwick_resource benchmark::benchmark z)
target_include_directories(bench_deflate PRIVATE ${PROJECT_SOURCE_DIR}/tests)
