# Content planning on a 64 MiB UTF-8 file against sed, and the two scan throughputs (see bench/content.md).
add_executable(content_bench ${CMAKE_CURRENT_SOURCE_DIR}/content_bench.cpp)
target_link_libraries(content_bench PRIVATE tarnwick_content benchmark::benchmark)
