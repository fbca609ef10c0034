// The backup folder's life: unique reservation, finalisation without overwrite,
// cleanup of exactly what this backup created, and the texts that report it.
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "backup/backup_internal.h"
#include "common/text.h"

namespace tarnwick {

namespace backup {

namespace {

constexpr std::uint64_t kNanosecondsPerSecond = 1'000'000'000;

// Numbers every reservation attempt of the process, so two backups started in
// the same nanosecond still get different names.
std::atomic<std::uint64_t> backup_folder_counter{0};

std::string decimal(unsigned __int128 value) {
  if (value == 0) return "0";
  std::string digits;
  while (value != 0) {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
    value /= 10;
  }
  return digits;
}

// Nanoseconds since the Unix epoch by the real-time clock; 0 before the epoch.
std::string epoch_nanoseconds() {
  struct timespec now {};
  if (::clock_gettime(CLOCK_REALTIME, &now) != 0 || now.tv_sec < 0) return "0";
  const unsigned __int128 total = static_cast<unsigned __int128>(now.tv_sec) * kNanosecondsPerSecond +
                                  static_cast<unsigned __int128>(now.tv_nsec);
  return decimal(total);
}

bool is_intact(const std::string& path, const CreatedIdentity& expected) {
  const auto status = sys::lstat(path);
  return status && !S_ISLNK(status->st_mode) && created_identity_of(*status) == expected;
}

std::string join_lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    if (!text.empty()) text += '\n';
    text += line;
  }
  return text;
}

}  // namespace

Result<std::string> reserve_backup_folder(const std::string& destination) {
  const std::string folder = destination.ends_with('/') ? destination : destination + "/";
  const std::string process = std::to_string(::getpid());
  for (int attempt = 0; attempt < kReserveAttempts; ++attempt) {
    const std::uint64_t counter = backup_folder_counter.fetch_add(1);
    std::string path = folder;
    path.append(kFolderPrefix).append(epoch_nanoseconds()).append("-").append(process).append("-");
    path.append(std::to_string(counter)).append(kIncompleteSuffix);
    const auto made = sys::mkdir(path, 0700);
    if (made) return path;
    if (made.error() != EEXIST) return fail(path_error("Cannot create unique backup directory", made.error(), path));
  }
  return fail("Cannot reserve a unique backup directory.");
}

Result<CreatedIdentity> identify_reserved_folder(const std::string& container) {
  const auto status = sys::lstat(container);
  std::string error;
  if (!status) {
    error = path_error("Cannot verify newly created backup entry", status.error(), container);
  } else if (S_ISLNK(status->st_mode)) {
    error = path_form("Backup refused", "links are not supported", container);
  } else if (!S_ISDIR(status->st_mode)) {
    error = path_form("Cannot verify newly created backup entry", "operation stopped", container);
  } else {
    return created_identity_of(*status);
  }
  // Still empty: removing it leaves the destination as it was.
  const auto removed = sys::rmdir(container);
  if (removed) return fail(std::move(error));
  return fail(error + "\nIncomplete backup retained at " + lossy_utf8(container) + ": " +
              os_error_text(removed.error()));
}

Result<BackupResult> finalize_backup(const BackupState& state, std::uint64_t files, std::uint64_t bytes) {
  if (!is_intact(state.container, state.container_identity)) {
    return fail(path_form("Backup container identity changed before finalization", "operation stopped",
                          state.container));
  }
  std::string final_path = state.container.substr(0, state.container.size() - kIncompleteSuffix.size());
  if (const auto renamed = sys::rename_noreplace(state.container, final_path); !renamed) {
    return fail(path_error("Cannot finalize verified backup without overwrite", renamed.error(), state.container));
  }
  return BackupResult{std::move(final_path), files, bytes};
}

std::vector<std::string> cleanup_incomplete_backup(BackupState& state) {
  if (!is_intact(state.container, state.container_identity)) {
    return {path_form("Incomplete backup directory identity changed", "cleanup refused; preserve this location",
                      state.container)};
  }
  // Unlock pass, folders before their contents: read-only folders must become
  // writable before anything inside them can be removed. Errors here show up
  // as removal problems below.
  for (std::size_t index = 0; index < state.record.size(); ++index) {
    if (!state.created[index] || !state.created[index]->is_directory) continue;
    if (!check_container_and_parents(state, index)) continue;
    const auto folder = open_completed_backup(state.checker, state.backup_path(index), *state.created[index]);
    if (folder) (void)sys::fchmod(folder->get(), 0700);
  }
  std::vector<std::string> problems;
  for (std::size_t index = state.record.size(); index-- > 0;) {
    if (!state.created[index]) continue;
    const std::string path = state.backup_path(index);
    if (!check_container_and_parents(state, index) || !is_intact(path, *state.created[index])) {
      problems.push_back(path_form("Incomplete backup entry or parent identity changed", "cleanup refused", path));
      continue;
    }
    const auto removed = state.created[index]->is_directory ? sys::rmdir(path) : sys::unlink(path);
    if (!removed) problems.push_back(path_error("Could not remove incomplete backup entry", removed.error(), path));
  }
  if (const auto removed = sys::rmdir(state.container); !removed) {
    problems.push_back(path_error("Could not remove incomplete backup directory", removed.error(), state.container));
  }
  return problems;
}

std::string failed_backup_text(const std::string& error, const std::string& container,
                               const std::vector<std::string>& problems) {
  if (problems.empty()) return error + "\nIncomplete backup removed. Original files were not changed.";
  return error + "\nOriginal files were not changed. Incomplete backup remains at " + lossy_utf8(container) +
         ". Preserve or remove it manually:\n" + join_lines(problems);
}

}  // namespace backup

std::string backup_complete_text(const BackupResult& result) {
  return "Backup complete: " + std::to_string(result.files) + " files / " + std::to_string(result.bytes) +
         " bytes\n" + lossy_utf8(result.folder) + "\nYour selected files have not been changed.";
}

std::string backup_apply_note(const BackupResult& result) {
  return "\n\nOriginals backed up and verified\n" + lossy_utf8(result.folder) + "\n" + std::to_string(result.files) +
         " files / " + std::to_string(result.bytes) + " bytes\nThe backup keeps original names and data.";
}

}  // namespace tarnwick
