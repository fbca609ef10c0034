# Composing and drawing one main-screen frame, on the recording canvas and on
# the X11 surface (needs DISPLAY, e.g. Xvfb) (see bench/ui_frame.md).
add_executable(bench_ui_frame ${CMAKE_CURRENT_SOURCE_DIR}/ui_frame_bench.cpp)
target_link_libraries(bench_ui_frame PRIVATE tarnwick_x11 benchmark::benchmark)
