# Format-aware resource edits against zlib inflate + level-6 deflate, edited sample
# sizes, and the peak memory of an edit (see bench/resource.md).
add_executable(bench_resource ${CMAKE_CURRENT_SOURCE_DIR}/resource_bench.cpp
                              ${PROJECT_SOURCE_DIR}/tests/resource/support_rsc7_builder.cpp)
target_link_libraries(bench_resource PRIVATE tarnwick_resource benchmark::benchmark z)
target_include_directories(bench_resource PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/tests/resource)
