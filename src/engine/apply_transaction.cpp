// The apply transaction: content installed through hidden stage and recovery
// files, renames deepest first, the final cleanup, and the rollback.
#include <algorithm>
#include <cerrno>

#include "common/text.h"
#include "common/verify.h"
#include "engine/apply.h"
#include "engine/scan.h"

namespace tarnwick::apply {

namespace {

// A content transaction exists only for a record with both byte strings.
const std::string& original_bytes_of(const ContentTransaction& transaction) {
  VERIFY(transaction.record != nullptr && transaction.record->original_bytes.has_value());
  return *transaction.record->original_bytes;
}

const std::string& replacement_bytes_of(const ContentTransaction& transaction) {
  VERIFY(transaction.record != nullptr && transaction.record->replacement_bytes.has_value());
  return *transaction.record->replacement_bytes;
}

bool entry_exists(const std::string& path) {
  const auto status = sys::lstat(path);
  // A probe that fails for another reason than absence counts as occupied:
  // nothing is renamed onto a path we cannot see.
  return status || status.error() != ENOENT;
}

// Removal of transaction files that never held user data (before the
// transaction was recorded); a file already gone counts as removed.
std::string remove_temporary_files(std::string failure, std::initializer_list<const std::string*> paths,
                                   Journal& journal) {
  std::vector<std::string> problems;
  for (const std::string* path : paths) {
    const auto removed = sys::unlink(*path);
    if (!removed && removed.error() != ENOENT) {
      problems.push_back(path_error("Cannot remove temporary transaction file", removed.error(), *path));
    }
  }
  if (problems.empty()) return failure;
  journal.temporary_files_left = true;
  failure += "\nTemporary files require manual cleanup:";
  for (const std::string& problem : problems) failure.append("\n").append(problem);
  return failure;
}

Result<void> write_all(int fd, std::string_view bytes, const std::string& path) {
  while (!bytes.empty()) {
    const auto written = sys::write(fd, bytes.data(), bytes.size());
    if (!written) return fail(path_error("Cannot stage replacement", written.error(), path));
    // write(2) returning 0 for a non-empty buffer would loop forever.
    if (*written == 0) return fail(path_error("Cannot stage replacement", ENOSPC, path));
    bytes.remove_prefix(*written);
  }
  return {};
}

// Steps that fill the stage file and free the recovery name; any failure
// leaves both files for the caller to remove.
Result<void> stage_replacement(const ScanRecord& record, const ReservedFile& stage, const std::string& recovery_path) {
  VERIFY(record.replacement_bytes.has_value());
  const auto secured = apply_source_security(record.original_path, stage.fd.get());
  if (!secured) return fail(path_form("Cannot preserve original file security", secured.error(), record.original_path));
  TRY(write_all(stage.fd.get(), *record.replacement_bytes, stage.path));
  const auto flushed = sys::fsync(stage.fd.get());
  if (!flushed) return fail(path_error("Cannot flush replacement", flushed.error(), stage.path));
  const auto freed = sys::unlink(recovery_path);
  if (!freed) return fail(path_error("Cannot remove temporary transaction file", freed.error(), recovery_path));
  return {};
}

// Moves the original aside and the stage file into its place; a failed install
// puts the original straight back.
Result<void> install(ContentTransaction& transaction) {
  const std::string& original = transaction.original_path;
  TRY(verify_record(*transaction.record));
  const auto aside = sys::rename_noreplace(original, transaction.recovery_path);
  if (!aside) return fail(path_error("Cannot install replacement", aside.error(), original));
  transaction.moved_aside = true;
  const auto installed = sys::rename_noreplace(transaction.stage_path, original);
  if (installed) return {};
  const auto restored = sys::rename_noreplace(transaction.recovery_path, original);
  if (restored) {
    transaction.moved_aside = false;
    return fail(path_error("Cannot install replacement", installed.error(), original));
  }
  const std::string detail = "Replacement failed (" + os_error_text(installed.error()) + "); restore failed (" +
                             os_error_text(restored.error()) + "). Original retained at " +
                             lossy_utf8(transaction.recovery_path);
  return fail(path_form("Cannot install replacement", detail, original));
}

Result<void> change_content(const ScanRecord& record, Journal& journal) {
  if (!record.original_bytes) {
    return fail(path_form("Selection changed since preview", "create a fresh preview", record.original_path));
  }
  ReservedFile stage = TRY(reserve_transaction_file(record.original_path, TransactionKind::Stage));
  auto recovery = reserve_transaction_file(record.original_path, TransactionKind::Recovery);
  if (!recovery) {
    stage.fd.reset();
    return fail(remove_temporary_files(std::move(recovery.error()), {&stage.path}, journal));
  }
  // Only the name is wanted: it must stay taken until the original moves there.
  recovery->fd.reset();
  if (auto staged = stage_replacement(record, stage, recovery->path); !staged) {
    stage.fd.reset();
    return fail(remove_temporary_files(std::move(staged.error()), {&stage.path, &recovery->path}, journal));
  }
  stage.fd.reset();
  journal.transactions.push_back(
      ContentTransaction{record.original_path, std::move(stage.path), std::move(recovery->path), &record, false});
  return install(journal.transactions.back());
}

Result<void> check_rename_source(const ScanRecord& record) {
  const std::string& path = record.original_path;
  const auto status = sys::lstat(path);
  if (!status) return fail(path_error("Rename source disappeared", status.error(), path));
  if (S_ISLNK(status->st_mode)) return fail(path_form("Rename source became a link", "operation stopped", path));
  if (record.identity.is_folder) {
    // Renames below the folder changed its times; its device and inode cannot change.
    const FileIdentity now = identity_of(*status);
    if (!now.is_folder || now.device != record.identity.device || now.inode != record.identity.inode) {
      return fail(path_form("Folder identity changed during operation", "operation stopped", path));
    }
    return {};
  }
  if (record.replacement_bytes) {
    if (!holds_bytes(path, *record.replacement_bytes)) {
      return fail(path_form("Installed text changed during operation", "operation stopped", path));
    }
    return {};
  }
  if (!(identity_of(*status) == record.identity)) {
    return fail(path_form("File changed during operation", "operation stopped", path));
  }
  return {};
}

void roll_back_content(const ContentTransaction& transaction, const RenameMap& left_renamed,
                       std::vector<std::string>& problems) {
  // Where the files are now, should a folder above them have kept its new name.
  const std::string original = final_path_through(transaction.original_path, left_renamed);
  const std::string stage = final_path_through(transaction.stage_path, left_renamed);
  const std::string recovery = final_path_through(transaction.recovery_path, left_renamed);
  const std::string& original_bytes = original_bytes_of(transaction);
  const std::string& replacement_bytes = replacement_bytes_of(transaction);
  if (!transaction.moved_aside) {
    // The original was never touched: whatever is there now is the user's.
    clean_up_transaction_file(stage, replacement_bytes, problems);
    return;
  }
  if (holds_bytes(original, original_bytes)) {
    clean_up_transaction_file(stage, replacement_bytes, problems);
    clean_up_transaction_file(recovery, original_bytes, problems);
    return;
  }
  if (!holds_bytes(recovery, original_bytes)) {
    problems.push_back("Original data could not be verified. Preserve all three locations: " + lossy_utf8(original) +
                       ", " + lossy_utf8(recovery) + ", " + lossy_utf8(stage));
    return;
  }
  // The recovery file is the only copy of the original: every way out below
  // that leaves it in place names it.
  const std::string retained =
      path_form("Could not restore original data; recovery files retained", "operation stopped", recovery);
  if (entry_exists(original)) {
    if (entry_exists(stage)) clean_up_transaction_file(stage, replacement_bytes, problems);
    if (entry_exists(stage)) {
      problems.push_back(retained);
      return;
    }
    const auto moved = sys::rename_noreplace(original, stage);
    if (!moved) {
      problems.push_back(path_error("Could not move current file aside; original backup retained", moved.error(),
                                    original));
      problems.push_back(retained);
      return;
    }
  }
  const auto restored = sys::rename_noreplace(recovery, original);
  if (!restored) {
    problems.push_back(path_error("Could not restore original data; recovery files retained", restored.error(),
                                  recovery));
    return;
  }
  clean_up_transaction_file(stage, replacement_bytes, problems);
}

}  // namespace

Result<void> run_content_phase(const PreviewPlan& plan, Journal& journal) {
  for (const ScanRecord& record : plan.scan_records) {
    if (record.replacement_bytes) TRY(change_content(record, journal));
  }
  return {};
}

Result<void> run_rename_phase(const PreviewPlan& plan, Journal& journal) {
  std::vector<const ScanRecord*> order;
  for (const ScanRecord& record : plan.scan_records) {
    if (record.own_renamed_path != record.original_path) order.push_back(&record);
  }
  // Deepest first: every rename works on paths whose parents still have their
  // original names, and a child never moves with an already renamed parent.
  std::stable_sort(order.begin(), order.end(),
                   [](const ScanRecord* a, const ScanRecord* b) { return a->depth > b->depth; });
  for (const ScanRecord* record : order) {
    TRY(check_rename_source(*record));
    const auto renamed = sys::rename_noreplace(record->original_path, record->own_renamed_path);
    if (!renamed) return fail(path_error("Cannot rename entry", renamed.error(), record->original_path));
    journal.renames.push_back(DoneRename{record->original_path, record->own_renamed_path});
  }
  return {};
}

std::vector<std::string> run_final_cleanup(const Journal& journal) {
  const RenameMap renames = rename_map(journal.renames);
  std::vector<std::string> problems;
  for (const ContentTransaction& transaction : journal.transactions) {
    clean_up_transaction_file(final_path_through(transaction.recovery_path, renames),
                              original_bytes_of(transaction), problems);
  }
  return problems;
}

std::vector<std::string> roll_back(const Journal& journal) {
  std::vector<std::string> problems;
  std::vector<DoneRename> left_renamed;
  for (auto rename = journal.renames.rbegin(); rename != journal.renames.rend(); ++rename) {
    const auto undone = sys::rename_noreplace(rename->renamed_path, rename->original_path);
    if (!undone) {
      problems.push_back(path_error("Could not restore original name", undone.error(), rename->renamed_path));
      left_renamed.push_back(*rename);
    }
  }
  const RenameMap still_renamed = rename_map(left_renamed);
  for (auto transaction = journal.transactions.rbegin(); transaction != journal.transactions.rend(); ++transaction) {
    roll_back_content(*transaction, still_renamed, problems);
  }
  return problems;
}

}  // namespace tarnwick::apply
