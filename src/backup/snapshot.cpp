// create_backup_snapshot: preconditions, copy without overwrite, read-back
// verification, final folder permissions, and the tree re-checks between them.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "backup/backup_internal.h"
#include "common/text.h"

namespace tarnwick {

namespace backup {

namespace {

constexpr std::string_view kSourceLead = "Cannot resolve backup source";
constexpr std::string_view kDestinationLead = "Cannot resolve backup destination";
constexpr std::string_view kEndOfFile = "unexpected end of file";
// Source opens never wait on a fifo swapped in after the last check; the flag
// changes nothing for regular files and folders.
constexpr int kReadOnlyNoFollow = O_RDONLY | O_NOFOLLOW | O_NONBLOCK;

struct CopyTotals {
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
};

// Absolute form without resolving links: the working folder in front of a
// relative path, repeated and trailing separators and "." components dropped.
// ".." stays, so the ancestor check still walks every component the system will.
Result<std::string> make_absolute(std::string_view path, std::string_view lead) {
  if (path.empty()) return fail(path_form(lead, "cannot make an empty path absolute", path));
  if (path.find('\0') != std::string_view::npos) return fail(path_form(lead, "NUL in path", path));
  std::string joined;
  if (path.front() != '/') {
    const auto working = sys::getcwd();
    if (!working) return fail(path_error(lead, working.error(), path));
    joined.append(*working).append("/");
  }
  joined.append(path);
  std::string absolute;
  std::size_t at = 0;
  while (at < joined.size()) {
    const std::size_t end = std::min(joined.find('/', at), joined.size());
    const std::string_view component(joined.data() + at, end - at);
    if (!component.empty() && component != ".") absolute.append("/").append(component);
    at = end + 1;
  }
  if (absolute.empty()) absolute.push_back('/');
  return absolute;
}

Result<std::string> canonicalize(const std::string& absolute, std::string_view lead) {
  auto resolved = sys::realpath(absolute);
  if (!resolved) return fail(path_error(lead, resolved.error(), absolute));
  return std::move(*resolved);
}

Result<void> check_preconditions(BackupState& state, std::string_view target, std::string_view destination) {
  const std::string absolute_target = TRY(make_absolute(target, kSourceLead));
  const std::string absolute_destination = TRY(make_absolute(destination, kDestinationLead));
  // Links are refused on the given paths before canonicalisation would resolve them.
  TRY(state.checker.check(absolute_target));
  TRY(state.checker.check(absolute_destination));
  state.target = TRY(canonicalize(absolute_target, kSourceLead));
  state.destination = TRY(canonicalize(absolute_destination, kDestinationLead));
  if (final_component(state.target).empty()) {
    return fail("Select a named file or folder; filesystem roots cannot be snapshotted.");
  }
  const auto status = sys::lstat(state.destination);
  if (!status) return fail(path_error("Cannot inspect backup destination", status.error(), state.destination));
  if (!S_ISDIR(status->st_mode)) {
    return fail(path_form("Backup destination is not an existing directory", "choose a folder", state.destination));
  }
  if (is_same_or_inside(state.destination, state.target)) {
    return fail("Backup destination cannot be the selected target or inside it.");
  }
  return {};
}

// Reads until size bytes arrived or the file ended; returns the count read.
sys::SysResult<std::size_t> read_fully(int fd, char* buffer, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const auto count = sys::read(fd, buffer + done, size - done);
    if (!count) return std::unexpected(count.error());
    if (*count == 0) break;
    done += *count;
  }
  return done;
}

sys::SysResult<void> write_fully(int fd, const char* buffer, std::size_t size) {
  while (size > 0) {
    const auto count = sys::write(fd, buffer, size);
    if (!count) return std::unexpected(count.error());
    if (*count == 0) return std::unexpected(EIO);
    buffer += *count;
    size -= *count;
  }
  return {};
}

Result<void> length_changed(const std::string& source_path) {
  return fail(path_form("Backup source or copied length changed", "snapshot refused", source_path));
}

Result<void> copy_folder(BackupState& state, std::size_t index, const std::string& backup) {
  const BackupEntry& entry = state.record[index];
  if (const auto made = sys::mkdir(backup, 0700); !made) {
    return fail(path_error("Cannot create backup folder", made.error(), backup));
  }
  const auto status = sys::lstat(backup);
  if (!status) return fail(path_error("Cannot verify newly created backup entry", status.error(), backup));
  if (!S_ISDIR(status->st_mode)) {
    return fail(path_form("Cannot verify newly created backup entry", "operation stopped", backup));
  }
  state.created[index] = created_identity_of(*status);
  constexpr std::string_view lead = "Cannot preserve backup folder security";
  const auto fd = sys::open(backup, kReadOnlyNoFollow | O_DIRECTORY);
  if (!fd) return fail(path_error(lead, fd.error(), backup));
  if (const auto secure = check_source_security(entry.path, fd->get()); !secure) {
    return fail(path_form(lead, secure.error(), entry.path));
  }
  // Created folders stay owner-only until the final permission pass: a
  // read-only source folder would refuse the copy's writes, and a
  // group-writable one the ancestor checks of its own contents.
  if (const auto locked = sys::fchmod(fd->get(), 0700); !locked) {
    return fail(path_error(lead, locked.error(), backup));
  }
  return {};
}

Result<void> copy_file_bytes(BackupState& state, const BackupEntry& entry, int source, int copy,
                             const std::string& backup, std::vector<char>& buffer) {
  auto remaining = static_cast<std::uint64_t>(entry.identity.size);
  while (remaining > 0) {
    TRY(stop_if_cancelled(state.control));
    const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kChunkBytes));
    const auto got = read_fully(source, buffer.data(), chunk);
    if (!got) return fail(path_error("Cannot read complete backup source", got.error(), entry.path));
    if (*got < chunk) return fail(path_form("Cannot read complete backup source", kEndOfFile, entry.path));
    if (const auto put = write_fully(copy, buffer.data(), chunk); !put) {
      return fail(path_error("Cannot write complete backup", put.error(), backup));
    }
    state.progress.bytes_copied.add(chunk);
    remaining -= chunk;
  }
  return {};
}

Result<void> copy_file(BackupState& state, std::size_t index, const std::string& backup, CopyTotals& totals,
                       std::vector<char>& buffer) {
  const BackupEntry& entry = state.record[index];
  // The check by path ran just before, in the copy loop.
  const auto source = sys::open(entry.path, kReadOnlyNoFollow);
  if (!source) return fail(path_error("Cannot open complete backup source", source.error(), entry.path));
  TRY(check_open_source_unchanged(source->get(), entry));

  const auto copy = sys::open(backup, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
  if (!copy) return fail(path_error("Cannot create backup file without overwrite", copy.error(), backup));
  const auto created = sys::fstat(copy->get());
  if (!created) return fail(path_error("Cannot verify newly created backup entry", created.error(), backup));
  state.created[index] = created_identity_of(*created);
  if (const auto secure = apply_source_security(entry.path, copy->get()); !secure) {
    return fail(path_form("Cannot preserve backup file security", secure.error(), entry.path));
  }

  // Not flushed here: flush_copy makes every copied file durable at once.
  TRY(copy_file_bytes(state, entry, source->get(), copy->get(), backup, buffer));
  const auto extra = sys::read(source->get(), buffer.data(), 1);
  if (!extra) return fail(path_error("Cannot verify copied source length", extra.error(), entry.path));
  if (*extra != 0) return length_changed(entry.path);
  const auto written = sys::fstat(copy->get());
  if (!written) return fail(path_error("Cannot verify copied backup length", written.error(), backup));
  if (written->st_size != entry.identity.size) return length_changed(entry.path);
  TRY(check_open_source_unchanged(source->get(), entry));
  if (const auto changed = sys::fchmod(copy->get(), entry.identity.mode & 07777); !changed) {
    return fail(path_error("Cannot preserve backup permissions", changed.error(), backup));
  }

  const auto size = static_cast<std::uint64_t>(entry.identity.size);
  if (totals.bytes > UINT64_MAX - size) return fail("Backup byte count overflow.");
  totals.bytes += size;
  ++totals.files;
  state.progress.files_copied.add(1);
  return {};
}

Result<CopyTotals> copy_tree(BackupState& state, std::vector<char>& buffer) {
  TRY(state.checker.check(state.destination));
  std::uint64_t path_storage = state.container.size();
  CopyTotals totals;
  for (std::size_t index = 0; index < state.record.size(); ++index) {
    TRY(stop_if_cancelled(state.control));
    TRY(check_source_unchanged(state.checker, state.record[index]));
    FreshProbes probes;
    TRY(check_container_and_parents(state, index, &probes));
    const std::string backup = state.backup_path(index);
    path_storage = saturating_add(path_storage, backup.size());
    if (path_storage > kMaxPathStorageBytes) return fail("Backup destination path storage exceeds 16 MiB.");
    TRY(state.checker.check(parent_path(backup), probes));
    if (state.record[index].identity.is_directory) {
      TRY(copy_folder(state, index, backup));
    } else {
      TRY(copy_file(state, index, backup, totals, buffer));
    }
  }
  if (TRY(record_source(state.target, state.control)) != state.record) {
    return fail("Complete backup source tree changed during copying; no source files were changed.");
  }
  return totals;
}

Result<void> compare_file(BackupState& state, const BackupEntry& entry, int source, int backup,
                          std::vector<char>& source_buffer, std::vector<char>& backup_buffer) {
  if (const auto rewound = sys::lseek(source, 0, SEEK_SET); !rewound) {
    return fail(path_error("Cannot verify source bytes", rewound.error(), entry.path));
  }
  if (const auto rewound = sys::lseek(backup, 0, SEEK_SET); !rewound) {
    return fail(path_error("Cannot read back backup bytes", rewound.error(), entry.path));
  }
  auto remaining = static_cast<std::uint64_t>(entry.identity.size);
  while (remaining > 0) {
    TRY(stop_if_cancelled(state.control));
    const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kChunkBytes));
    constexpr std::string_view source_lead = "Backup source changed or became unreadable";
    constexpr std::string_view backup_lead = "Backup readback was incomplete";
    const auto from_source = read_fully(source, source_buffer.data(), chunk);
    if (!from_source) return fail(path_error(source_lead, from_source.error(), entry.path));
    if (*from_source < chunk) return fail(path_form(source_lead, kEndOfFile, entry.path));
    const auto from_backup = read_fully(backup, backup_buffer.data(), chunk);
    if (!from_backup) return fail(path_error(backup_lead, from_backup.error(), entry.path));
    if (*from_backup < chunk) return fail(path_form(backup_lead, kEndOfFile, entry.path));
    if (std::memcmp(source_buffer.data(), backup_buffer.data(), chunk) != 0) {
      return fail(path_form("Backup byte verification failed", "source and snapshot differ", entry.path));
    }
    state.progress.bytes_verified.add(chunk);
    remaining -= chunk;
  }
  const auto source_extra = sys::read(source, source_buffer.data(), 1);
  if (!source_extra) return fail(path_error("Cannot verify source length", source_extra.error(), entry.path));
  const auto backup_extra = sys::read(backup, backup_buffer.data(), 1);
  if (!backup_extra) return fail(path_error("Cannot verify backup length", backup_extra.error(), entry.path));
  if (*source_extra != 0 || *backup_extra != 0) {
    return fail(path_form("Backup length changed", "snapshot refused", entry.path));
  }
  return {};
}

Result<void> verify_copy(BackupState& state, std::vector<char>& source_buffer, std::vector<char>& backup_buffer) {
  for (std::size_t index = 0; index < state.record.size(); ++index) {
    const BackupEntry& entry = state.record[index];
    if (entry.identity.is_directory) continue;
    TRY(stop_if_cancelled(state.control));
    const sys::UniqueFd source = TRY(open_source(state.checker, entry));
    FreshProbes probes;
    TRY(check_container_and_parents(state, index, &probes));
    const sys::UniqueFd backup = TRY(open_completed_backup(state.checker, state.backup_path(index),
                                                           state.created[index].value(), std::move(probes)));
    TRY(compare_file(state, entry, source.get(), backup.get(), source_buffer, backup_buffer));
    TRY(check_open_source_unchanged(source.get(), entry));
    state.progress.files_verified.add(1);
  }
  return {};
}

// Another process of the same account could have put entries into the
// backup that the source never had; a backup holding them is no copy. Every
// listed name must be one this backup created there, with the same inode.
// source_folder is the source path the backup folder stands for (for the
// container, the folder holding the target).
Result<void> check_folder_holds_only_copies(const BackupState& state, const std::string& source_folder,
                                            std::size_t expected_count, const std::string& backup) {
  constexpr std::string_view lead = "Backup folder holds entries this backup did not create";
  auto directory = sys::opendir(backup);
  if (!directory) return fail(path_error(lead, directory.error(), backup));
  const auto less = [](const BackupEntry& entry, const std::string& path) { return component_less(entry.path, path); };
  std::size_t listed_count = 0;
  for (;;) {
    const auto listed = directory->next();
    if (!listed) return fail(path_error(lead, listed.error(), backup));
    if (!listed->has_value()) break;
    ++listed_count;
    std::string source = source_folder.ends_with('/') ? source_folder : source_folder + "/";
    source.append((*listed)->name);
    const auto found = std::lower_bound(state.record.begin(), state.record.end(), source, less);
    const auto child = static_cast<std::size_t>(found - state.record.begin());
    if (found == state.record.end() || found->path != source || !state.created[child] ||
        state.created[child]->inode != (*listed)->inode) {
      return fail(path_form(lead, "snapshot refused", backup + "/" + std::string((*listed)->name)));
    }
  }
  if (listed_count != expected_count) return fail(path_form(lead, "snapshot refused", backup));
  return {};
}

// Contents before their folder, so read-only folders close only once everything
// inside them is written. Each folder is flushed here, after its last entry
// was created, so that a verified backup survives a power loss.
Result<void> finish_folder_permissions(BackupState& state) {
  for (std::size_t index = state.record.size(); index-- > 0;) {
    const BackupEntry& entry = state.record[index];
    if (!entry.identity.is_directory) continue;
    TRY(stop_if_cancelled(state.control));
    TRY(check_container_and_parents(state, index));
    const std::string backup = state.backup_path(index);
    const sys::UniqueFd folder = TRY(open_completed_backup(state.checker, backup, state.created[index].value()));
    TRY(check_folder_holds_only_copies(state, entry.path, state.child_counts[index], backup));
    if (const auto changed = sys::fchmod(folder.get(), entry.identity.mode & 07777); !changed) {
      return fail(path_error("Cannot finalize backup folder permissions", changed.error(), backup));
    }
    TRY(flush_folder(folder.get(), backup));
  }
  return {};
}

// One flush of the whole filesystem holding the backup instead of one wait per
// file. syncfs reports every write-back error on that filesystem since the
// descriptor was opened (Linux 5.8 and later), so the descriptor is opened
// before the first byte is copied: a page whose write-back failed in the
// meantime cannot pass for durable.
Result<void> flush_copy(int container, const std::string& container_path) {
  if (const auto flushed = sys::syncfs(container); !flushed) {
    return fail(path_error("Cannot flush backup data", flushed.error(), container_path));
  }
  return {};
}

Result<BackupResult> fill_and_finalize(BackupState& state) {
  std::vector<char> source_buffer(kChunkBytes);
  std::vector<char> backup_buffer(kChunkBytes);
  // Every copy lies below the container, on its filesystem: any folder swapped
  // for another one (a mount among them) fails the identity checks.
  const sys::UniqueFd flush_handle =
      TRY(open_completed_backup(state.checker, state.container, state.container_identity));
  state.progress.stage.store(BackupStage::Copying, std::memory_order_relaxed);
  const CopyTotals totals = TRY(copy_tree(state, source_buffer));
  TRY(flush_copy(flush_handle.get(), state.container));
  state.progress.stage.store(BackupStage::Verifying, std::memory_order_relaxed);
  TRY(verify_copy(state, source_buffer, backup_buffer));
  state.progress.stage.store(BackupStage::Finishing, std::memory_order_relaxed);
  TRY(finish_folder_permissions(state));
  if (TRY(record_source(state.target, state.control)) != state.record) {
    return fail("Complete backup source tree changed during verification; no source files were changed.");
  }
  const sys::UniqueFd container = TRY(open_completed_backup(state.checker, state.container, state.container_identity));
  TRY(check_folder_holds_only_copies(state, parent_path(state.target), 1, state.container));
  TRY(flush_folder(container.get(), state.container));
  return finalize_backup(state, totals.files, totals.bytes);
}

// The totals both the copy and the verification count towards.
void publish_totals(BackupState& state) {
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  for (const BackupEntry& entry : state.record) {
    if (entry.identity.is_directory) continue;
    ++files;
    bytes = saturating_add(bytes, static_cast<std::uint64_t>(entry.identity.size));
  }
  state.progress.files_total.set(files);
  state.progress.bytes_total.set(bytes);
}

// Everything created is removed again; a cancel that leaves nothing behind
// reports itself alone.
std::string failure_after_reservation(BackupState& state, const std::string& error) {
  state.progress.stage.store(BackupStage::RemovingIncomplete, std::memory_order_relaxed);
  const auto problems = cleanup_incomplete_backup(state);
  if (problems.empty() && error == kBackupCancelled) return error;
  return failed_backup_text(error, state.container, problems);
}

Result<void> flush_destination(const std::string& destination) {
  const auto folder = sys::open(destination, kReadOnlyNoFollow | O_DIRECTORY);
  if (!folder) return fail(path_error("Cannot flush backup data", folder.error(), destination));
  return flush_folder(folder->get(), destination);
}

}  // namespace

std::string BackupState::backup_path(std::size_t index) const {
  const std::string_view relative = std::string_view(record[index].path).substr(target.size());
  std::string path;
  path.reserve(container.size() + 1 + target.size() + relative.size());
  path.append(container).append("/").append(final_component(target)).append(relative);
  return path;
}

void BackupState::index_record() {
  parents.assign(record.size(), kNoParent);
  child_counts.assign(record.size(), 0);
  created.assign(record.size(), std::nullopt);
  const auto less = [](const BackupEntry& entry, const std::string& path) { return component_less(entry.path, path); };
  for (std::size_t index = 1; index < record.size(); ++index) {
    const std::string parent = parent_path(record[index].path);
    const auto found = std::lower_bound(record.begin(), record.end(), parent, less);
    if (found == record.end() || found->path != parent) continue;
    parents[index] = static_cast<std::size_t>(found - record.begin());
    ++child_counts[parents[index]];
  }
}

Result<void> check_container_and_parents(BackupState& state, std::size_t index, FreshProbes* probes) {
  const auto container = sys::lstat(state.container);
  if (!container || S_ISLNK(container->st_mode) || created_identity_of(*container) != state.container_identity) {
    return fail(path_form("Backup container identity changed", "operation stopped", state.container));
  }
  if (probes != nullptr) probes->push_back(FreshProbe{state.container, *container});
  // The record is sorted, so the target is entry 0 and every other entry's chain ends there.
  for (std::size_t at = index; at != 0;) {
    const std::size_t parent = state.parents[at];
    if (parent == kNoParent) return fail("Missing backup parent record.");
    if (!state.created[parent]) return fail("Backup parent has not been created.");
    const std::string path = state.backup_path(parent);
    const auto status = sys::lstat(path);
    if (!status || S_ISLNK(status->st_mode) || created_identity_of(*status) != *state.created[parent]) {
      return fail(path_form("Backup parent identity changed", "operation stopped", path));
    }
    if (probes != nullptr) probes->push_back(FreshProbe{path, *status});
    at = parent;
  }
  return {};
}

Result<sys::UniqueFd> open_completed_backup(AncestorChecker& checker, const std::string& backup_path,
                                            const CreatedIdentity& created, FreshProbes fresh) {
  const auto status = sys::lstat(backup_path);
  if (!status || S_ISLNK(status->st_mode) || created_identity_of(*status) != created) {
    return fail(path_form("Backup entry identity changed", "verification refused", backup_path));
  }
  fresh.push_back(FreshProbe{backup_path, *status});
  TRY(checker.check(backup_path, fresh));
  auto fd = sys::open(backup_path, kReadOnlyNoFollow);
  if (!fd) return fail(path_error("Cannot open completed backup without following links", fd.error(), backup_path));
  const auto opened = sys::fstat(fd->get());
  if (!opened || created_identity_of(*opened) != created) {
    return fail(path_form("Open backup entry identity changed", "verification refused", backup_path));
  }
  return std::move(*fd);
}

Result<void> flush_folder(int fd, const std::string& path) {
  if (const auto flushed = sys::fsync(fd); !flushed) {
    return fail(path_error("Cannot flush backup data", flushed.error(), path));
  }
  return {};
}

}  // namespace backup

Result<BackupResult> create_backup_snapshot(std::string_view target, std::string_view destination,
                                            WorkerControl* control) {
  WorkerControl unobserved;
  backup::BackupState state(control != nullptr ? *control : unobserved);
  TRY(backup::check_preconditions(state, target, destination));
  state.record = TRY(backup::record_source(state.target, state.control));
  state.index_record();
  backup::publish_totals(state);
  TRY(backup::stop_if_cancelled(state.control));
  state.container = TRY(backup::reserve_backup_folder(state.destination));
  state.container_identity = TRY(backup::identify_reserved_folder(state.container));

  auto made = backup::fill_and_finalize(state);
  if (!made) return fail(backup::failure_after_reservation(state, made.error()));
  // The final name is durable only once the destination folder is flushed. A
  // backup that cannot be made durable is not reported as complete: it goes
  // back to its incomplete name and is cleaned up like any other failure.
  const auto flushed = backup::flush_destination(state.destination);
  if (flushed) return made;
  if (const auto back = sys::rename_noreplace(made->folder, state.container); !back) {
    return fail(backup::failed_backup_text(
        flushed.error(), made->folder,
        {path_error("Could not restore incomplete backup name; cleanup refused", back.error(), made->folder)}));
  }
  return fail(backup::failure_after_reservation(state, flushed.error()));
}

}  // namespace tarnwick
