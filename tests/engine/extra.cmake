# The worker channel and detached workers once more under ThreadSanitizer: the
# channel's header and the thread start are compiled instrumented; the engine
# they run is linked as built (a sanitizer build cannot mix in a second one).
if(NOT TARNWICK_SANITIZE AND NOT TARNWICK_TSAN)
  add_executable(engine_channel_tsan_tests ${CMAKE_CURRENT_LIST_DIR}/channel_test.cpp
                                           ${PROJECT_SOURCE_DIR}/src/engine/worker.cpp)
  target_compile_options(engine_channel_tsan_tests PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(engine_channel_tsan_tests PRIVATE -fsanitize=thread)
  target_link_libraries(engine_channel_tsan_tests PRIVATE tarnwick_engine GTest::gtest GTest::gtest_main)
  gtest_discover_tests(engine_channel_tsan_tests TEST_PREFIX tsan. DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1")
endif()

# A preview and apply, or a Recover, in a process of its own for the tests
# that kill it from outside.
add_executable(apply_kill_driver ${CMAKE_CURRENT_LIST_DIR}/driver/apply_kill_driver.cxx)
target_link_libraries(apply_kill_driver PRIVATE tarnwick_engine)
add_dependencies(engine_tests apply_kill_driver)
target_compile_definitions(engine_tests PRIVATE TARNWICK_APPLY_KILL_DRIVER="$<TARGET_FILE:apply_kill_driver>")
