# zlib is the independent oracle of the raw DEFLATE tests (the program itself never links it).
target_link_libraries(resource_tests PRIVATE z)
# The fixed-width refusals are also checked through the content dispatcher.
target_link_libraries(resource_tests PRIVATE tarnwick_content)
