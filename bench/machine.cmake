# The machine's first-touch and fsync speeds, printed with every benchmark run (see README.md).
add_executable(bench_machine ${CMAKE_CURRENT_SOURCE_DIR}/machine_bench.cpp)
