# The RSC7 container and its fixed-width edit path.
tarnwick_fuzz_target(rsc7 ${CMAKE_CURRENT_SOURCE_DIR}/rsc7.cpp tarnwick_resource)
