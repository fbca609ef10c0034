# Apply phases against bare renameat2 calls and a plain staged write per file (see bench/apply.md).
add_executable(apply_bench ${CMAKE_CURRENT_SOURCE_DIR}/apply_bench.cpp)
target_link_libraries(apply_bench PRIVATE tarnwick_engine benchmark::benchmark)
