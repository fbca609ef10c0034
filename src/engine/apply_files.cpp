// Hidden transaction files inside open folders: their names, the read-back
// that proves what a file holds, and the rule that removes one only after that
// proof.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "common/text.h"
#include "engine/apply.h"
#include "engine/scan.h"

namespace tarnwick::apply {

namespace {

constexpr std::size_t kCompareChunkBytes = 65'536;

}  // namespace

Comparison compare_file_at(int folder, const std::string& name, std::string_view expected) {
  // O_NONBLOCK: a name swapped for a fifo must not hang the read-back.
  const auto file = sys::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK);
  if (!file) {
    if (file.error() == ENOENT) return Comparison{ReadBack::Missing};
    if (file.error() == ELOOP) return Comparison{ReadBack::Different};  // a link in its place
    return Comparison{ReadBack::Unreadable, file.error()};
  }
  const auto status = sys::fstat(file->get());
  if (!status) return Comparison{ReadBack::Unreadable, status.error()};
  if (!S_ISREG(status->st_mode) || status->st_nlink >= 2 || static_cast<std::uint64_t>(status->st_size) != expected.size() ||
      expected.size() > kCompareReadLimitBytes) {
    return Comparison{ReadBack::Different};
  }
  // Chunk by chunk, and one byte beyond: the file may have grown since fstat.
  std::array<char, kCompareChunkBytes> buffer;
  std::size_t compared = 0;
  for (;;) {
    const std::size_t wanted = std::min(buffer.size(), expected.size() - compared + 1);
    const auto count = sys::read(file->get(), buffer.data(), wanted);
    if (!count) return Comparison{ReadBack::Unreadable, count.error()};
    if (*count == 0) break;
    if (compared + *count > expected.size() || std::memcmp(buffer.data(), expected.data() + compared, *count) != 0) {
      return Comparison{ReadBack::Different};
    }
    compared += *count;
  }
  return Comparison{compared == expected.size() ? ReadBack::Equal : ReadBack::Different};
}

Result<void> write_all(int fd, std::string_view bytes, std::string_view lead, const std::string& path) {
  while (!bytes.empty()) {
    const auto written = sys::write(fd, bytes.data(), bytes.size());
    if (!written) return fail(path_error(lead, written.error(), path));
    // write(2) returning 0 for a non-empty buffer would loop forever.
    if (*written == 0) return fail(path_error(lead, ENOSPC, path));
    bytes.remove_prefix(*written);
  }
  return {};
}

Result<std::string> choose_transaction_name(int folder, const std::string& folder_path, TransactionKind kind) {
  for (int attempt = 0; attempt < kMaxReservationAttempts; ++attempt) {
    const std::uint64_t counter = transaction_counter().fetch_add(1, std::memory_order_relaxed);
    std::string name = transaction_file_name(counter, kind);
    const auto probe = sys::fstatat(folder, name, AT_SYMLINK_NOFOLLOW);
    if (!probe && probe.error() == ENOENT) return name;
    if (!probe) return fail(path_error("Cannot create transaction file", probe.error(), join_path(folder_path, name)));
  }
  return fail("Could not reserve a unique transaction filename.");
}

void clean_up_transaction_file(int folder, const std::string& name, const std::string& path, const FileJudge& judge,
                               std::vector<std::string>& problems) {
  const auto status = sys::fstatat(folder, name, AT_SYMLINK_NOFOLLOW);
  if (!status && status.error() == ENOENT) return;
  // A failed probe or read is said as such; the file is kept either way.
  const Comparison found = status ? judge(*status) : Comparison{ReadBack::Unreadable, status.error()};
  if (found.state == ReadBack::Missing) return;
  if (found.state == ReadBack::Unreadable) {
    problems.push_back(path_error("Could not read back temporary transaction file; preserved for manual review",
                                  found.error, path));
    return;
  }
  if (found.state == ReadBack::Different) {
    problems.push_back(path_form("Temporary data was modified externally; preserved for manual review",
                                 "do not delete without checking", path));
    return;
  }
  const auto removed = sys::unlinkat(folder, name, 0);
  if (!removed && removed.error() != ENOENT) {
    problems.push_back(path_error("Cannot remove temporary transaction file", removed.error(), path));
  }
}

void clean_up_transaction_file(int folder, const std::string& name, const std::string& path,
                               std::string_view expected, std::vector<std::string>& problems) {
  clean_up_transaction_file(
      folder, name, path, [&](const struct stat&) { return compare_file_at(folder, name, expected); }, problems);
}

}  // namespace tarnwick::apply
