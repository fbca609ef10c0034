# zlib makes the real compressed streams the signature tests must recognise.
target_link_libraries(content_tests PRIVATE z)
