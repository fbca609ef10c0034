# The raw DEFLATE decoder, checked against the tests' bit-serial reference and zlib.
tarnwick_fuzz_target(inflate ${CMAKE_CURRENT_SOURCE_DIR}/inflate.cpp tarnwick_deflate z)
target_sources(fuzz_inflate PRIVATE ${PROJECT_SOURCE_DIR}/tests/resource/deflate/reference_codec.cpp)
target_include_directories(fuzz_inflate PRIVATE ${PROJECT_SOURCE_DIR}/tests)
