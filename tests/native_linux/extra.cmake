# The desktop tests start the real program, so build it with them.
add_dependencies(native_linux_tests tarnwick)
