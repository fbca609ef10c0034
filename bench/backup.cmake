# Verified backup against rsync -a --fsync and cp -a + diff -r (see bench/backup.md).
add_executable(backup_bench ${CMAKE_CURRENT_SOURCE_DIR}/backup_bench.cpp)
target_link_libraries(backup_bench PRIVATE tarnwick_backup benchmark::benchmark)
