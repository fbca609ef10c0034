# The desktop tests start the real program, so build it with them.
add_dependencies(native_linux_tests tarnwick)
# The install checks install this build tree into a temporary DESTDIR.
add_dependencies(native_linux_tests tarnwick_desktop_files)
target_compile_definitions(native_linux_tests PRIVATE TARNWICK_TEST_BUILD_DIR="${PROJECT_BINARY_DIR}"
                           TARNWICK_TEST_CMAKE="${CMAKE_COMMAND}")
