# Auto detection and Unicode decoding: decode, re-encode, compare with the input.
tarnwick_fuzz_target(encoding_detect ${CMAKE_CURRENT_SOURCE_DIR}/encoding_detect.cpp tarnwick_text_codec)
