// The way back, shared by a failed apply and by Recover: every rename and
// install undone last first, decided from what the filesystem shows (and, in
// the apply, from what this process knows it did), then the folders flushed.
// Whatever cannot be restored is named with where its bytes are.
#include <cerrno>

#include "common/text.h"
#include "engine/apply.h"
#include "engine/scan.h"

namespace tarnwick::apply {

namespace {

constexpr std::string_view kNotRestored = "Could not restore original data; recovery files retained";

void append_lines(std::string& text, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) text.append("\n").append(line);
}

// A file this run created and that never held user data.
void remove_own_file(int folder, const std::string& name, const std::string& path, std::vector<std::string>& problems) {
  const auto removed = sys::unlinkat(folder, name, 0);
  if (!removed && removed.error() != ENOENT) {
    problems.push_back(path_error("Cannot remove temporary transaction file", removed.error(), path));
  }
}

}  // namespace

Transaction Transaction::resume(TransactionJournal journal, std::string journal_path, FolderIdentity journal_folder) {
  Transaction transaction;
  transaction.journal_ = std::move(journal);
  for (std::size_t index = 0; index < transaction.journal_.folders.size(); ++index) {
    transaction.folder_index_.emplace(transaction.journal_.folders[index].path, index);
  }
  for (std::size_t index = 0; index < transaction.journal_.installs.size(); ++index) {
    transaction.install_index_.emplace(transaction.journal_.installs[index].path, index);
  }
  transaction.inferred_ = true;
  transaction.journal_folder_ = std::string(parent_path(journal_path));
  transaction.journal_path_ = std::move(journal_path);
  transaction.journal_folder_identity_ = journal_folder;
  return transaction;
}

Problems Transaction::roll_back() {
  Problems problems = undo_everything();
  // Each step is decided from the disk again, so a second pass settles what
  // a passing failure kept the first one from doing.
  if (!problems.unrestored.empty() || !problems.leftovers.empty()) problems = undo_everything();
  if (problems.unrestored.empty()) {
    auto removed = remove_journal();
    if (!removed) removed = remove_journal();
    if (!removed) problems.leftovers.push_back(std::move(removed.error()));
  }
  return problems;
}

Problems Transaction::undo_everything() {
  Problems problems;
  folders_.forget();
  undo_renames(problems);
  for (std::size_t index = journal_.installs.size(); index-- > 0;) {
    undo_install(index, problems);
    step_done();
  }
  folders_.forget();
  std::vector<std::size_t> changed;
  for (std::size_t index = 0; index < journal_.folders.size(); ++index) {
    if (inferred_ || folder_changed_[index]) changed.push_back(index);
  }
  // Without the flush a power loss could bring back what was just undone,
  // and the journal that would let Recover undo it again must then stay.
  if (auto flushed = flush_changed_folders(changed); !flushed) problems.unrestored.push_back(std::move(flushed.error()));
  return problems;
}

void Transaction::undo_renames(Problems& problems) {
  // Undone shallowest first; one that stays renamed keeps its new name in
  // every path below it, so each undo is mapped through those left in place.
  RenameMap left;
  for (std::size_t index = journal_.renames.size(); index-- > 0;) {
    step_done();
    const JournalRename& rename = journal_.renames[index];
    // This process knows which renames took effect; Recover looks.
    if (!inferred_ && !in_effect_.contains(rename.from)) continue;
    const std::string_view original_folder = parent_path(rename.from);
    const std::string folder_path = final_path_through(original_folder, left);
    const std::string from_name(last_component(rename.from));
    const std::string to_name(last_component(rename.to));
    const std::string renamed_path = join_path(folder_path, to_name);
    const auto folder = folders_.reach(folder_path, folder_identity(original_folder));
    if (!folder) {
      problems.unrestored.push_back(folder_fault_text(folder.error(), "Could not restore original name", renamed_path));
      left.emplace(rename.from, rename.to);
      continue;
    }
    const auto at_new = sys::fstatat(*folder, to_name, AT_SYMLINK_NOFOLLOW);
    if (at_new && is_renamed_entry(*at_new, rename)) {
      if (const auto undone = sys::rename_noreplace_at(*folder, to_name, *folder, from_name); !undone) {
        problems.unrestored.push_back(path_error("Could not restore original name", undone.error(), renamed_path));
        left.emplace(rename.from, rename.to);
      }
      continue;
    }
    if (!at_new && at_new.error() != ENOENT) {
      // Not to be seen: it may well still carry the new name.
      problems.unrestored.push_back(path_error("Could not restore original name", at_new.error(), renamed_path));
      left.emplace(rename.from, rename.to);
      continue;
    }
    const auto at_old = sys::fstatat(*folder, from_name, AT_SYMLINK_NOFOLLOW);
    if (at_old && is_renamed_entry(*at_old, rename)) continue;  // the rename never took effect
    // Recover: a file with an install that is under neither name was moved
    // aside before any rename began; the install's undo finds it there.
    if (inferred_ && install_index_.contains(rename.from)) continue;
    problems.unrestored.push_back(path_error("Could not restore original name", ENOENT, renamed_path));
  }
  in_effect_ = std::move(left);
}

bool Transaction::is_renamed_entry(const struct stat& status, const JournalRename& rename) const {
  if (status.st_dev == rename.device && status.st_ino == rename.inode && S_ISDIR(status.st_mode) == rename.is_folder) {
    return true;
  }
  // A file whose content was installed is the stage file by now.
  const auto install = install_index_.find(rename.from);
  if (install == install_index_.end()) return false;
  const std::optional<FileIdentity>& staged = journal_.installs[install->second].staged;
  return staged && status.st_dev == staged->device && status.st_ino == staged->inode && S_ISREG(status.st_mode);
}

Transaction::Holds Transaction::what_is_at(std::size_t index, int folder, const std::string& name) {
  const JournalInstall& install = journal_.installs[index];
  const auto status = sys::fstatat(folder, name, AT_SYMLINK_NOFOLLOW);
  if (!status) return status.error() == ENOENT ? Holds::Nothing : Holds::Other;
  if (!S_ISREG(status->st_mode) || status->st_nlink != 1) return Holds::Other;
  const FileIdentity now = identity_of(*status);
  // The identity says which file it is; where this process still has the
  // bytes, they must match as well.
  const bool bytes_known = !records_.empty();
  if (now == install.original) {
    if (!bytes_known || compare_file_at(folder, name, original_bytes_of(index)).state == ReadBack::Equal) {
      return Holds::Original;
    }
    return Holds::Other;
  }
  if (install.staged && now == *install.staged) {
    if (!bytes_known || compare_file_at(folder, name, replacement_bytes_of(index)).state == ReadBack::Equal) {
      return Holds::Stage;
    }
  }
  return Holds::Other;
}

void Transaction::undo_install(std::size_t index, Problems& problems) {
  const JournalInstall& install = journal_.installs[index];
  const InstallProgress progress = inferred_ ? InstallProgress{true, true, true, true} : progress_[index];
  if (!progress.stage_created && !progress.reservation_held && !progress.original_moved) return;
  // Where the file is now: its folder, and its own name too, may have kept a new name.
  const std::string_view original_folder = parent_path(install.path);
  const std::string original = current_path(install.path);
  const std::string folder_path(parent_path(original));
  const std::string name(last_component(original));
  const std::string stage = join_path(folder_path, install.stage_name);
  const std::string recovery = join_path(folder_path, install.recovery_name);
  const auto folder = folders_.reach(folder_path, folder_identity(original_folder));
  if (!folder) {
    // Nothing can be looked at: everything that may be there is named, as
    // precisely as this process knows it.
    constexpr std::string_view lead = "Cannot remove temporary transaction file";
    if (inferred_) {
      problems.unrestored.push_back(folder_fault_text(folder.error(), kNotRestored, recovery));
      problems.unrestored.push_back("Original data could not be verified. Preserve all three locations: " +
                                    lossy_utf8(original) + ", " + lossy_utf8(recovery) + ", " + lossy_utf8(stage));
    } else if (progress.installed) {
      problems.unrestored.push_back(folder_fault_text(folder.error(), kNotRestored, recovery));
    } else if (progress.original_moved) {
      problems.unrestored.push_back(folder_fault_text(folder.error(), kNotRestored, recovery));
      problems.unrestored.push_back(lossy_utf8(original) + " is missing; its original data is in " + lossy_utf8(recovery));
      problems.leftovers.push_back(folder_fault_text(folder.error(), lead, stage));
    } else {
      if (progress.stage_created) problems.leftovers.push_back(folder_fault_text(folder.error(), lead, stage));
      if (progress.reservation_held) problems.leftovers.push_back(folder_fault_text(folder.error(), lead, recovery));
    }
    return;
  }
  if (!progress.original_moved) {
    // Nothing of the user's was touched: only this run's own files go.
    if (progress.stage_created) remove_own_file(*folder, install.stage_name, stage, problems.leftovers);
    if (progress.reservation_held) remove_own_file(*folder, install.recovery_name, recovery, problems.leftovers);
    return;
  }
  const Holds at_original = what_is_at(index, *folder, name);
  if (at_original == Holds::Original || (at_original == Holds::Other && !holds_original(index, *folder, install.recovery_name))) {
    // The original is in place (or never left it and was changed by someone
    // else): only the transaction's own files are cleaned up.
    clean_up_stage(index, *folder, folder_path, problems.leftovers);
    if (inferred_) clean_up_reservation(index, *folder, folder_path, problems.leftovers);
    return;
  }
  if (at_original == Holds::Other) {
    // Another program wrote to the path since the install: its file is left
    // as it is, and the original stays where it is.
    problems.unrestored.push_back(path_form("Could not restore original data; the file was changed by another program",
                                            "its original data is in " + lossy_utf8(recovery), original));
    clean_up_stage(index, *folder, folder_path, problems.leftovers);
    return;
  }
  // Nothing or the installed stage file at the path: the original must be in the recovery file.
  if (!holds_original(index, *folder, install.recovery_name)) {
    problems.unrestored.push_back("Original data could not be verified. Preserve all three locations: " +
                                  lossy_utf8(original) + ", " + lossy_utf8(recovery) + ", " + lossy_utf8(stage));
    return;
  }
  const std::string retained = path_form(kNotRestored, "operation stopped", recovery);
  if (at_original == Holds::Stage) {
    clean_up_stage(index, *folder, folder_path, problems.leftovers);
    if (what_is_at(index, *folder, install.stage_name) != Holds::Nothing) {
      problems.unrestored.push_back(retained);
      return;
    }
    if (const auto moved = sys::rename_noreplace_at(*folder, name, *folder, install.stage_name); !moved) {
      problems.unrestored.push_back(
          path_error("Could not move current file aside; original backup retained", moved.error(), original));
      problems.unrestored.push_back(retained);
      return;
    }
  }
  if (const auto restored = sys::rename_noreplace_at(*folder, install.recovery_name, *folder, name); !restored) {
    problems.unrestored.push_back(path_error(kNotRestored, restored.error(), recovery));
    if (what_is_at(index, *folder, name) == Holds::Nothing) {
      problems.unrestored.push_back(lossy_utf8(original) + " is missing; its original data is in " + lossy_utf8(recovery));
    }
  }
  clean_up_stage(index, *folder, folder_path, problems.leftovers);
}

bool Transaction::holds_original(std::size_t index, int folder, const std::string& name) {
  return what_is_at(index, folder, name) == Holds::Original;
}

void Transaction::clean_up_stage(std::size_t index, int folder, const std::string& folder_path,
                                 std::vector<std::string>& problems) {
  const JournalInstall& install = journal_.installs[index];
  const auto judge = [&](const struct stat& status) {
    const bool plain_file = S_ISREG(status.st_mode) && status.st_nlink == 1;
    if (!install.staged) {
      // Never completely staged: this run knows it made the file; Recover
      // takes a plain file no longer than the replacement for the unfinished one.
      const bool ours = inferred_ ? plain_file && static_cast<std::uint64_t>(status.st_size) <= install.replacement_size
                                  : progress_[index].stage_created;
      return Comparison{ours ? ReadBack::Equal : ReadBack::Different};
    }
    if (!plain_file || !(identity_of(status) == *install.staged)) return Comparison{ReadBack::Different};
    if (records_.empty()) return Comparison{ReadBack::Equal};
    return compare_file_at(folder, install.stage_name, replacement_bytes_of(index));
  };
  clean_up_transaction_file(folder, install.stage_name, join_path(folder_path, install.stage_name), judge, problems);
}

void Transaction::clean_up_reservation(std::size_t index, int folder, const std::string& folder_path,
                                       std::vector<std::string>& problems) {
  const JournalInstall& install = journal_.installs[index];
  // The empty file that kept the name: nothing was ever written to it.
  const auto judge = [](const struct stat& status) {
    const bool empty = S_ISREG(status.st_mode) && status.st_nlink == 1 && status.st_size == 0;
    return Comparison{empty ? ReadBack::Equal : ReadBack::Different};
  };
  clean_up_transaction_file(folder, install.recovery_name, join_path(folder_path, install.recovery_name), judge,
                            problems);
}

bool Transaction::fully_applied() {
  folders_.forget();
  RenameMap all;
  for (const JournalRename& rename : journal_.renames) all.emplace(rename.from, rename.to);
  for (const JournalRename& rename : journal_.renames) {
    const std::string_view original_folder = parent_path(rename.from);
    const auto folder = folders_.reach(final_path_through(original_folder, all), folder_identity(original_folder));
    if (!folder) return false;
    const auto status = sys::fstatat(*folder, std::string(last_component(rename.to)), AT_SYMLINK_NOFOLLOW);
    if (!status || !is_renamed_entry(*status, rename)) return false;
  }
  in_effect_ = std::move(all);
  for (std::size_t index = 0; index < journal_.installs.size(); ++index) {
    const auto folder = open_folder_of(journal_.installs[index].path);
    const std::string name(last_component(current_path(journal_.installs[index].path)));
    if (!folder || what_is_at(index, *folder, name) != Holds::Stage) {
      in_effect_.clear();
      return false;
    }
  }
  return true;
}

bool Transaction::cleanup_begun() {
  for (std::size_t index = 0; index < journal_.installs.size(); ++index) {
    const auto folder = open_folder_of(journal_.installs[index].path);
    if (folder && what_is_at(index, *folder, journal_.installs[index].recovery_name) == Holds::Nothing) return true;
  }
  return false;
}

std::string rollback_report(std::string failure, const Problems& problems, bool backup_made,
                            const std::optional<std::string>& journal_kept) {
  if (!problems.unrestored.empty()) {
    failure += backup_made ? "\nRecovery is incomplete. Preserve these files and restore from your backup:"
                           : "\nRecovery is incomplete. Preserve these files:";
    append_lines(failure, problems.unrestored);
    append_lines(failure, problems.leftovers);
    if (journal_kept) {
      failure.append("\n").append(path_form("Transaction journal kept for Recover",
                                            "preview this folder again to finish the recovery", *journal_kept));
    }
    return failure;
  }
  failure += "\nApplied changes were rolled back.";
  if (problems.leftovers.empty()) return failure;
  failure += "\nTemporary files require manual cleanup:";
  append_lines(failure, problems.leftovers);
  return failure;
}

}  // namespace tarnwick::apply
