# The drop uri-list parser.
tarnwick_fuzz_target(uri_list ${CMAKE_CURRENT_SOURCE_DIR}/uri_list.cpp tarnwick_x11)
