// Runs one backup and prints its outcome: the tests start it as an unprivileged
// user through setpriv. (Kept out of the test program's sources: it has its own main.)
#include <cstdio>

#include "backup/backup.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: backup_probe TARGET DESTINATION\n", stderr);
    return 2;
  }
  const auto result = tarnwick::create_backup_snapshot(argv[1], argv[2]);
  if (!result) {
    std::fputs(result.error().c_str(), stdout);
    return 1;
  }
  std::printf("%s\n%llu\n%llu", result->folder.c_str(), static_cast<unsigned long long>(result->files),
              static_cast<unsigned long long>(result->bytes));
  return 0;
}
