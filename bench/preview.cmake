# The preview walk on a generated 50,000-entry tree against a bare readdir +
# fstatat walk and against rg -uuu -j1 -c -F (see bench/preview.md).
add_executable(bench_preview ${CMAKE_CURRENT_SOURCE_DIR}/preview_bench.cpp)
target_link_libraries(bench_preview PRIVATE tarnwick_engine benchmark::benchmark)
