# The YFT/YTD/YDR name graph and name relocation, on mutated synthetic resources.
tarnwick_fuzz_target(name_graph ${CMAKE_CURRENT_SOURCE_DIR}/name_graph.cpp tarnwick_resource)
