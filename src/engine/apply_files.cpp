// Hidden transaction files: their names, their exclusive reservation, and the
// rule that removes one only after reading back the bytes it should hold.
#include <unistd.h>

#include <cerrno>

#include "common/text.h"
#include "engine/apply.h"
#include "engine/scan.h"

namespace tarnwick::apply {

std::atomic<std::uint64_t>& transaction_counter() {
  static std::atomic<std::uint64_t> counter{0};
  return counter;
}

std::string transaction_file_path(std::string_view beside, std::uint64_t counter, TransactionKind kind) {
  const std::size_t slash = beside.rfind('/');
  std::string path(slash == std::string_view::npos ? std::string_view() : beside.substr(0, slash + 1));
  path += ".tarnwick-";
  path += std::to_string(::getpid());
  path += '-';
  path += std::to_string(counter);
  path += kind == TransactionKind::Stage ? "-stage" : "-recovery";
  return path;
}

Result<ReservedFile> reserve_transaction_file(std::string_view beside, TransactionKind kind) {
  for (int attempt = 0; attempt < kMaxReservationAttempts; ++attempt) {
    const std::uint64_t counter = transaction_counter().fetch_add(1, std::memory_order_relaxed);
    std::string path = transaction_file_path(beside, counter, kind);
    auto fd = sys::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (fd) return ReservedFile{std::move(path), std::move(*fd)};
    if (fd.error() != EEXIST) return fail(path_error("Cannot create transaction file", fd.error(), path));
  }
  return fail("Could not reserve a unique transaction filename.");
}

bool holds_bytes(const std::string& path, const std::string& expected) {
  const auto bytes = read_file_bounded(path, kCompareReadLimitBytes);
  return bytes && *bytes == expected;
}

void clean_up_transaction_file(const std::string& path, const std::string& expected,
                               std::vector<std::string>& problems) {
  const auto probe = sys::lstat(path);
  if (!probe && probe.error() == ENOENT) return;
  // A failed probe or read counts as different: the file is kept and named.
  if (!probe || !holds_bytes(path, expected)) {
    problems.push_back(path_form("Temporary data was modified externally; preserved for manual review",
                                 "do not delete without checking", path));
    return;
  }
  const auto removed = sys::unlink(path);
  if (!removed && removed.error() != ENOENT) {
    problems.push_back(path_error("Cannot remove temporary transaction file", removed.error(), path));
  }
}

}  // namespace tarnwick::apply
