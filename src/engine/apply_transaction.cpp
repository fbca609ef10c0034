// The apply transaction's forward way: the journal written before the first
// change, stage files, installs, renames deepest first, folder flushes, the
// commit, and the final cleanup.
#include <algorithm>
#include <cerrno>
#include <map>

#include "common/text.h"
#include "common/verify.h"
#include "engine/apply.h"
#include "engine/scan.h"

namespace tarnwick::apply {

namespace {

constexpr int kNewFileFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW;
constexpr std::string_view kFlushFolderLead = "Cannot flush folder";

// The identity of a folder outside the plan (the target's parent), taken the
// way every later use reaches it.
Result<FolderIdentity> learn_folder(const std::string& path) {
  const auto folder = sys::open_without_links(path, O_PATH | O_DIRECTORY);
  if (!folder) return fail(path_error("Cannot inspect selected path", folder.error(), path));
  const auto status = sys::fstat(folder->get());
  if (!status) return fail(path_error("Cannot inspect selected path", status.error(), path));
  return FolderIdentity{status->st_dev, status->st_ino};
}

const ScanRecord* find_record(const PreviewPlan& plan, std::string_view path) {
  for (const ScanRecord& record : plan.scan_records) {
    if (record.original_path == path) return &record;
  }
  return nullptr;
}

// The folder that holds the journal: one this apply never renames and can
// write, nearest to the target first.
std::vector<std::string> journal_folder_candidates(const PreviewPlan& plan) {
  const ScanRecord* target = find_record(plan, plan.target_path);
  std::vector<std::string> candidates;
  if (target != nullptr && target->identity.is_folder && target->own_renamed_path == target->original_path) {
    candidates.push_back(plan.target_path);
  }
  candidates.emplace_back(parent_path(plan.target_path));
  return candidates;
}

bool is_permission_error(int error) { return error == EACCES || error == EPERM || error == EROFS; }

// A record's own checks right before its rename, relative to its open folder.
Result<void> check_rename_source(int folder, const ScanRecord& record) {
  const std::string& path = record.original_path;
  const std::string name(last_component(path));
  const auto status = sys::fstatat(folder, name, AT_SYMLINK_NOFOLLOW);
  if (!status) return fail(path_error("Rename source disappeared", status.error(), path));
  if (S_ISLNK(status->st_mode)) return fail(path_form("Rename source became a link", "operation stopped", path));
  const FileIdentity now = identity_of(*status);
  if (record.identity.is_folder) {
    // Renames below the folder changed its times; its device and inode cannot change.
    if (!now.is_folder || now.device != record.identity.device || now.inode != record.identity.inode) {
      return fail(path_form("Folder identity changed during operation", "operation stopped", path));
    }
    return {};
  }
  if (record.replacement_bytes) {
    if (compare_file_at(folder, name, *record.replacement_bytes).state != ReadBack::Equal) {
      return fail(path_form("Installed text changed during operation", "operation stopped", path));
    }
    return {};
  }
  if (!(now == record.identity)) return fail(path_form("File changed during operation", "operation stopped", path));
  return {};
}

// The record proved once more right before its original moves aside.
Result<void> verify_file_at(int folder, const ScanRecord& record) {
  const std::string& path = record.original_path;
  const std::string name(last_component(path));
  const auto status = sys::fstatat(folder, name, AT_SYMLINK_NOFOLLOW);
  if (!status) return fail(path_error("Selection changed since preview", status.error(), path));
  const bool hardlinked = S_ISREG(status->st_mode) && status->st_nlink >= 2;
  if (S_ISLNK(status->st_mode) || hardlinked || !(identity_of(*status) == record.identity)) {
    return fail(path_form("Selection changed since preview", "create a fresh preview", path));
  }
  VERIFY(record.original_bytes.has_value());
  const std::string bytes = TRY(read_file_bounded_at(folder, name, path, verify_read_limit(*record.original_bytes)));
  if (bytes != *record.original_bytes) {
    return fail(path_form("File data changed since preview", "create a fresh preview", path));
  }
  return {};
}

}  // namespace

// --- Beginning: names, the journal, and its plan ------------------------------

Result<Transaction> Transaction::begin(const PreviewPlan& plan) {
  Transaction transaction;
  TransactionJournal& journal = transaction.journal_;
  journal.target = plan.target_path;
  std::unordered_map<std::string_view, const ScanRecord*> folder_records;
  std::vector<const ScanRecord*> renamed;
  for (const ScanRecord& record : plan.scan_records) {
    if (record.identity.is_folder) folder_records.emplace(record.original_path, &record);
    if (record.own_renamed_path != record.original_path) renamed.push_back(&record);
    if (!record.replacement_bytes || !record.original_bytes) continue;
    transaction.install_index_.emplace(record.original_path, journal.installs.size());
    journal.installs.push_back(JournalInstall{record.original_path, record.identity, record.replacement_bytes->size(),
                                              {}, {}, std::nullopt});
    transaction.records_.push_back(&record);
  }
  transaction.progress_.resize(journal.installs.size());
  // Deepest first: every rename works on paths whose parents still have their
  // original names, and a child never moves with an already renamed parent.
  std::stable_sort(renamed.begin(), renamed.end(),
                   [](const ScanRecord* a, const ScanRecord* b) { return a->depth > b->depth; });
  for (const ScanRecord* record : renamed) {
    journal.renames.push_back(JournalRename{record->original_path, record->own_renamed_path, record->identity.device,
                                            record->identity.inode, record->identity.is_folder});
  }
  transaction.rename_records_ = std::move(renamed);

  const auto touch = [&](std::string_view entry) -> Result<void> {
    const std::string_view folder = parent_path(entry);
    if (transaction.folder_index_.contains(folder)) return {};
    FolderIdentity identity;
    if (const auto found = folder_records.find(folder); found != folder_records.end()) {
      identity = FolderIdentity{found->second->identity.device, found->second->identity.inode};
    } else {
      identity = TRY(learn_folder(std::string(folder)));
    }
    transaction.folder_index_.emplace(folder, journal.folders.size());
    journal.folders.push_back(JournalFolder{std::string(folder), identity.device, identity.inode});
    return {};
  };
  for (const JournalInstall& install : journal.installs) TRY(touch(install.path));
  for (const JournalRename& rename : journal.renames) TRY(touch(rename.from));
  transaction.folder_changed_.assign(journal.folders.size(), false);

  for (JournalInstall& install : journal.installs) {
    const std::string folder_path(parent_path(install.path));
    const auto folder = transaction.open_folder_of(install.path);
    if (!folder) return fail(folder_fault_text(folder.error(), "Cannot create transaction file", folder_path));
    install.stage_name = TRY(choose_transaction_name(*folder, folder_path, TransactionKind::Stage));
    install.recovery_name = TRY(choose_transaction_name(*folder, folder_path, TransactionKind::Recovery));
  }
  TRY(transaction.create_journal(journal_folder_candidates(plan), folder_records));
  return transaction;
}

Result<void> Transaction::create_journal(const std::vector<std::string>& candidates,
                                         const std::unordered_map<std::string_view, const ScanRecord*>& records) {
  std::string first_failure;
  for (const std::string& folder_path : candidates) {
    FolderIdentity identity;
    if (const auto found = records.find(folder_path); found != records.end()) {
      identity = FolderIdentity{found->second->identity.device, found->second->identity.inode};
    } else if (const auto known = folder_index_.find(folder_path); known != folder_index_.end()) {
      identity = FolderIdentity{journal_.folders[known->second].device, journal_.folders[known->second].inode};
    } else {
      identity = TRY(learn_folder(folder_path));
    }
    const auto folder = folders_.reach(folder_path, identity);
    if (!folder) return fail(folder_fault_text(folder.error(), "Cannot create transaction journal", folder_path));
    for (int attempt = 0; attempt < kMaxReservationAttempts; ++attempt) {
      const std::uint64_t counter = transaction_counter().fetch_add(1, std::memory_order_relaxed);
      const std::string name = transaction_file_name(counter, TransactionKind::Journal);
      const std::string path = join_path(folder_path, name);
      auto created = sys::openat(*folder, name, kNewFileFlags, 0600);
      if (created) {
        journal_fd_ = std::move(*created);
        journal_path_ = path;
        journal_folder_ = folder_path;
        journal_folder_identity_ = identity;
        return {};
      }
      if (created.error() == EEXIST) continue;
      if (!is_permission_error(created.error())) {
        return fail(path_error("Cannot create transaction journal", created.error(), path));
      }
      // A folder this user may not write: the next one up may do.
      if (first_failure.empty()) first_failure = path_error("Cannot create transaction journal", created.error(), path);
      break;
    }
    if (first_failure.empty()) return fail("Could not reserve a unique transaction filename.");
  }
  return fail(std::move(first_failure));
}

Result<void> Transaction::write_journal() {
  TRY(write_all(journal_fd_.get(), journal_plan_text(journal_), "Cannot write transaction journal", journal_path_));
  TRY(flush_journal());
  const auto folder = folders_.reach(journal_folder_, journal_folder_identity_);
  if (!folder) return fail(folder_fault_text(folder.error(), kFlushFolderLead, journal_folder_));
  return flush_folder(*folder, journal_folder_);
}

// --- The forward phases -------------------------------------------------------

// Stage files are not flushed one by one: each waits for the disk on its own.
// They are all written first, then every filesystem holding them is flushed
// once, before the first install.
Result<void> Transaction::stage_contents() {
  std::vector<StagedFilesystem> filesystems;
  for (std::size_t index = 0; index < journal_.installs.size(); ++index) {
    JournalInstall& install = journal_.installs[index];
    const std::string folder_path(parent_path(install.path));
    const std::string stage_path = join_path(folder_path, install.stage_name);
    const std::string recovery_path = join_path(folder_path, install.recovery_name);
    const auto folder = open_folder_of(install.path);
    if (!folder) return fail(folder_fault_text(folder.error(), "Cannot create transaction file", stage_path));
    note_change_in_folder_of(install.path);
    auto stage = sys::openat(*folder, install.stage_name, kNewFileFlags, 0600);
    if (!stage) return fail(path_error("Cannot create transaction file", stage.error(), stage_path));
    progress_[index].stage_created = true;
    const std::uint64_t device = folder_identity(parent_path(install.path)).device;
    const bool first_there = std::none_of(filesystems.begin(), filesystems.end(),
                                          [&](const StagedFilesystem& known) { return known.device == device; });
    // Kept open from before its first byte is written, so that the flush
    // reports any write-back error of this filesystem since then.
    if (first_there) filesystems.push_back(StagedFilesystem{device, std::move(*stage), stage_path});
    const int stage_fd = first_there ? filesystems.back().descriptor.get() : stage->get();
    // The recovery name stays taken by an empty file of ours until the original moves there.
    auto reservation = sys::openat(*folder, install.recovery_name, kNewFileFlags, 0600);
    if (!reservation) return fail(path_error("Cannot create transaction file", reservation.error(), recovery_path));
    progress_[index].reservation_held = true;
    reservation->reset();
    if (const auto secured = apply_source_security(install.path, stage_fd); !secured) {
      return fail(path_form("Cannot preserve original file security", secured.error(), install.path));
    }
    TRY(write_all(stage_fd, replacement_bytes_of(index), "Cannot stage replacement", stage_path));
    const auto staged = sys::fstat(stage_fd);
    if (!staged) return fail(path_error("Cannot inspect open file", staged.error(), stage_path));
    install.staged = identity_of(*staged);
    TRY(append_to_journal(journal_staged_line(index, *install.staged)));
    step_done();
  }
  return flush_stage_files(filesystems);
}

// One syncfs per filesystem holding stage files, through a descriptor opened
// before anything was staged there: syncfs reports every write-back error of
// the filesystem since its descriptor was opened (Linux 5.8 and later). Where
// the journal lies, its own descriptor serves, open since before the first
// stage file, and its staged lines go to disk in the same flush.
Result<void> Transaction::flush_stage_files(const std::vector<StagedFilesystem>& filesystems) {
  for (const StagedFilesystem& filesystem : filesystems) {
    const bool holds_journal = filesystem.device == journal_folder_identity_.device;
    const int descriptor = holds_journal ? journal_fd_.get() : filesystem.descriptor.get();
    if (const auto flushed = sys::syncfs(descriptor); !flushed) {
      return fail(path_error("Cannot flush replacement", flushed.error(), filesystem.first_stage_path));
    }
    journal_flushed_ = journal_flushed_ || holds_journal;
  }
  return {};
}

Result<void> Transaction::flush_journal() {
  if (journal_flushed_) return {};
  if (const auto flushed = sys::fsync(journal_fd_.get()); !flushed) {
    return fail(path_error("Cannot flush transaction journal", flushed.error(), journal_path_));
  }
  return {};
}

Result<void> Transaction::install_contents() {
  for (std::size_t index = 0; index < journal_.installs.size(); ++index) {
    const JournalInstall& install = journal_.installs[index];
    const std::string& original = install.path;
    const std::string name(last_component(original));
    const std::string folder_path(parent_path(original));
    const auto folder = open_folder_of(original);
    if (!folder) return fail(folder_fault_text(folder.error(), "Cannot install replacement", original));
    // Freed right before the original moves there; the move never replaces,
    // so a name taken meanwhile fails the move instead of losing anything.
    const auto freed = sys::unlinkat(*folder, install.recovery_name, 0);
    if (!freed && freed.error() != ENOENT) {
      return fail(path_error("Cannot remove temporary transaction file", freed.error(),
                             join_path(folder_path, install.recovery_name)));
    }
    progress_[index].reservation_held = false;
    TRY(verify_file_at(*folder, *records_[index]));
    progress_[index].original_moved = true;
    const auto aside = sys::rename_noreplace_at(*folder, name, *folder, install.recovery_name);
    if (!aside) return fail(path_error("Cannot install replacement", aside.error(), original));
    const auto installed = sys::rename_noreplace_at(*folder, install.stage_name, *folder, name);
    if (installed) {
      progress_[index].installed = true;
      step_done();
      continue;
    }
    const auto restored = sys::rename_noreplace_at(*folder, install.recovery_name, *folder, name);
    if (restored) {
      progress_[index].original_moved = false;
      return fail(path_error("Cannot install replacement", installed.error(), original));
    }
    const std::string detail = "Replacement failed (" + os_error_text(installed.error()) + "); restore failed (" +
                               os_error_text(restored.error()) + "). Original retained at " +
                               lossy_utf8(join_path(folder_path, install.recovery_name));
    return fail(path_form("Cannot install replacement", detail, original));
  }
  return {};
}

Result<void> Transaction::rename_entries() {
  folders_.forget();
  in_effect_.reserve(journal_.renames.size());
  std::size_t last_folder = journal_.folders.size();
  int folder = -1;
  for (std::size_t index = 0; index < journal_.renames.size(); ++index) {
    const JournalRename& rename = journal_.renames[index];
    // Deepest first: no folder above this entry has been renamed yet, so its
    // folder's path is still the original one. Siblings come in runs: their
    // folder, once reached, serves the whole run.
    const std::size_t folder_index = index_of_folder(parent_path(rename.from));
    if (folder_index != last_folder) {
      const JournalFolder& record = journal_.folders[folder_index];
      const auto reached = folders_.reach(record.path, FolderIdentity{record.device, record.inode});
      if (!reached) return fail(folder_fault_text(reached.error(), "Cannot rename entry", rename.from));
      folder = *reached;
      last_folder = folder_index;
    }
    TRY(check_rename_source(folder, *rename_records_[index]));
    folder_changed_[folder_index] = true;
    const auto renamed = sys::rename_noreplace_at(folder, std::string(last_component(rename.from)), folder,
                                                  std::string(last_component(rename.to)));
    if (!renamed) return fail(path_error("Cannot rename entry", renamed.error(), rename.from));
    in_effect_.emplace(rename.from, rename.to);
    step_done();
  }
  return {};
}

Result<void> Transaction::commit() {
  // The mark goes to disk in the same flush as the changes: Recover completes
  // an apply only when it finds the mark and every change in place, so a
  // power loss that keeps the mark but loses a change still rolls back.
  TRY(append_to_journal(std::string(journal_committed_line())));
  journal_.committed = true;
  folders_.forget();
  std::vector<std::size_t> all(journal_.folders.size());
  for (std::size_t index = 0; index < all.size(); ++index) all[index] = index;
  TRY(flush_changed_folders(all));
  return flush_journal();
}

// --- Flushes --------------------------------------------------------------------

Result<void> Transaction::flush_changed_folders(const std::vector<std::size_t>& folders) {
  journal_flushed_ = false;
  std::map<std::uint64_t, std::vector<std::size_t>> by_filesystem;
  for (const std::size_t index : folders) by_filesystem[journal_.folders[index].device].push_back(index);
  for (const auto& [device, indices] : by_filesystem) {
    const bool one_by_one = indices.size() <= kMaxFolderFlushesPerFilesystem;
    if (!one_by_one && journal_fd_ && device == journal_folder_identity_.device) {
      // The journal's descriptor, open since before the first change, reaches
      // that filesystem already, and its flush reports every write-back error
      // there since then.
      TRY(flush_filesystem_of_journal(indices.front()));
      continue;
    }
    for (const std::size_t index : indices) {
      const JournalFolder& record = journal_.folders[index];
      const std::string path = current_path(record.path);
      const auto folder = folders_.reach(path, FolderIdentity{record.device, record.inode});
      if (!folder) return fail(folder_fault_text(folder.error(), kFlushFolderLead, path));
      TRY(one_by_one ? flush_folder(*folder, path) : flush_filesystem(*folder, path));
      if (!one_by_one) break;
    }
  }
  return {};
}

Result<void> Transaction::flush_filesystem_of_journal(std::size_t folder) {
  if (const auto flushed = sys::syncfs(journal_fd_.get()); !flushed) {
    return fail(path_error(kFlushFolderLead, flushed.error(), current_path(journal_.folders[folder].path)));
  }
  journal_flushed_ = true;
  return {};
}

Result<void> Transaction::flush_folder(int folder, const std::string& path) {
  auto readable = sys::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  if (!readable && readable.error() == EACCES) return flush_filesystem(folder, path);
  if (!readable) return fail(path_error(kFlushFolderLead, readable.error(), path));
  if (const auto flushed = sys::fsync(readable->get()); !flushed) {
    return fail(path_error(kFlushFolderLead, flushed.error(), path));
  }
  return {};
}

Result<void> Transaction::flush_filesystem(int folder, const std::string& path) {
  auto readable = sys::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  int descriptor = readable ? readable->get() : -1;
  if (!readable && readable.error() == EACCES && journal_fd_) {
    // A folder this user may search and write but not read: the journal,
    // when it lies on the same filesystem, reaches that filesystem as well.
    const auto folder_status = sys::fstat(folder);
    const auto journal_status = sys::fstat(journal_fd_.get());
    if (folder_status && journal_status && folder_status->st_dev == journal_status->st_dev) {
      descriptor = journal_fd_.get();
    }
  }
  if (descriptor < 0) return fail(path_error(kFlushFolderLead, readable.error(), path));
  if (const auto flushed = sys::syncfs(descriptor); !flushed) {
    return fail(path_error(kFlushFolderLead, flushed.error(), path));
  }
  // The journal, when it lies on that filesystem, went to disk with it.
  if (journal_fd_) {
    const auto flushed_status = sys::fstat(descriptor);
    const auto journal_status = sys::fstat(journal_fd_.get());
    journal_flushed_ = journal_flushed_ ||
                       (flushed_status && journal_status && flushed_status->st_dev == journal_status->st_dev);
  }
  return {};
}

// --- The final cleanup ------------------------------------------------------------

Transaction::Cleanup Transaction::finish() {
  Cleanup cleanup;
  folders_.forget();
  std::vector<std::size_t> changed;
  for (std::size_t index = 0; index < journal_.installs.size(); ++index) {
    step_done();
    const JournalInstall& install = journal_.installs[index];
    const std::string folder_path = current_path(parent_path(install.path));
    const auto folder = open_folder_of(install.path);
    if (!folder) {
      cleanup.recovery_files.push_back(folder_fault_text(folder.error(), "Cannot remove temporary transaction file",
                                                         join_path(folder_path, install.recovery_name)));
      continue;
    }
    const std::size_t before = cleanup.recovery_files.size();
    clean_up_recovery(index, *folder, folder_path, cleanup.recovery_files);
    if (cleanup.recovery_files.size() == before) changed.push_back(index_of_folder(parent_path(install.path)));
  }
  // The removals durable before the journal goes, so that no recovery file
  // can come back after a power loss without a journal that names it.
  std::sort(changed.begin(), changed.end());
  changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
  if (auto flushed = flush_changed_folders(changed); !flushed) cleanup.journal.push_back(std::move(flushed.error()));
  if (auto removed = remove_journal(); !removed) cleanup.journal.push_back(std::move(removed.error()));
  return cleanup;
}

void Transaction::clean_up_recovery(std::size_t index, int folder, const std::string& folder_path,
                                    std::vector<std::string>& problems) {
  const JournalInstall& install = journal_.installs[index];
  const std::string path = join_path(folder_path, install.recovery_name);
  if (!records_.empty()) {
    clean_up_transaction_file(folder, install.recovery_name, path, original_bytes_of(index), problems);
    return;
  }
  // Recover has no bytes: the recovery file goes only while it still is the original file.
  const FileIdentity& original = install.original;
  clean_up_transaction_file(
      folder, install.recovery_name, path,
      [&](const struct stat& status) {
        const bool same = S_ISREG(status.st_mode) && status.st_nlink == 1 && identity_of(status) == original;
        return Comparison{same ? ReadBack::Equal : ReadBack::Different};
      },
      problems);
}

Result<void> Transaction::remove_journal() {
  const auto folder = folders_.reach(journal_folder_, journal_folder_identity_);
  if (!folder) return fail(folder_fault_text(folder.error(), "Cannot remove temporary transaction file", journal_path_));
  const auto removed = sys::unlinkat(*folder, std::string(last_component(journal_path_)), 0);
  if (!removed && removed.error() != ENOENT) {
    return fail(path_error("Cannot remove temporary transaction file", removed.error(), journal_path_));
  }
  journal_removed_ = true;
  auto flushed = flush_folder(*folder, journal_folder_);
  journal_fd_.reset();
  return flushed;
}

// --- Paths ------------------------------------------------------------------------

Result<void> Transaction::append_to_journal(const std::string& line) {
  journal_flushed_ = false;
  return write_all(journal_fd_.get(), line, "Cannot write transaction journal", journal_path_);
}

const std::string& Transaction::original_bytes_of(std::size_t install) const {
  VERIFY(install < records_.size() && records_[install]->original_bytes.has_value());
  return *records_[install]->original_bytes;
}

const std::string& Transaction::replacement_bytes_of(std::size_t install) const {
  VERIFY(install < records_.size() && records_[install]->replacement_bytes.has_value());
  return *records_[install]->replacement_bytes;
}

std::size_t Transaction::index_of_folder(std::string_view original_folder) const {
  const auto found = folder_index_.find(original_folder);
  VERIFY(found != folder_index_.end());
  return found->second;
}

FolderIdentity Transaction::folder_identity(std::string_view original_folder) const {
  const JournalFolder& folder = journal_.folders[index_of_folder(original_folder)];
  return FolderIdentity{folder.device, folder.inode};
}

std::string Transaction::current_path(std::string_view original_path) const {
  return final_path_through(original_path, in_effect_);
}

void Transaction::note_change_in_folder_of(std::string_view original_path) {
  folder_changed_[index_of_folder(parent_path(original_path))] = true;
}

FolderResult Transaction::open_folder_of(std::string_view original_path) {
  const std::string_view folder = parent_path(original_path);
  return folders_.reach(current_path(folder), folder_identity(folder));
}

std::string Transaction::current_target() const { return current_path(journal_.target); }

std::optional<FileIdentity> Transaction::installed_identity(std::string_view original_path) const {
  const auto found = install_index_.find(original_path);
  if (found == install_index_.end()) return std::nullopt;
  return journal_.installs[found->second].staged;
}

}  // namespace tarnwick::apply
