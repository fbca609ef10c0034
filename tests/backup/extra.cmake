# The unprivileged backup tests start this small program through setpriv.
add_executable(backup_probe ${CMAKE_CURRENT_SOURCE_DIR}/backup/probe/backup_probe.cxx)
target_link_libraries(backup_probe PRIVATE tarnwick_backup)
add_dependencies(backup_tests backup_probe)
target_compile_definitions(backup_tests PRIVATE TARNWICK_BACKUP_PROBE="$<TARGET_FILE:backup_probe>")
