# Result is [[nodiscard]]: a source that drops one must fail to build (warnings are errors).
add_library(dropped_result_check OBJECT EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/nodiscard/dropped_result.cxx)
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/nodiscard/dropped_result.cxx PROPERTIES LANGUAGE CXX)
target_include_directories(dropped_result_check PRIVATE ${PROJECT_SOURCE_DIR}/src)
add_test(NAME common.DroppedResultDoesNotBuild
         COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target dropped_result_check)
set_tests_properties(common.DroppedResultDoesNotBuild PROPERTIES
                     PASS_REGULAR_EXPRESSION "ignoring returned value of type [^ ]*tarnwick::Result<int>")
