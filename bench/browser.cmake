# Opening the folder browser on a folder of 50,000 entries against ls -a of
# the same folder (see bench/browser.md).
add_executable(bench_browser ${CMAKE_CURRENT_SOURCE_DIR}/browser_bench.cpp)
target_link_libraries(bench_browser PRIVATE tarnwick_ui benchmark::benchmark)
