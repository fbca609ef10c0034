// Recover: an apply interrupted by a kill or a power loss is rolled back from
// its journal and what the filesystem shows, or, when its final cleanup had
// begun removing the originals, that cleanup is completed. Recover keeps no journal of its own: each
// step is decided from the disk again, so an interrupted Recover is resumed by
// the next one.
#include "common/text.h"
#include "engine/apply.h"
#include "engine/scan.h"

namespace tarnwick {

namespace {

// A journal lists at most two paths per examined entry, each short of 4 KiB,
// within the 16 MiB path limits; anything larger is no journal of ours.
constexpr std::uint64_t kMaxJournalBytes = 128ull << 20;
constexpr std::string_view kCannotRecover = "Cannot recover the interrupted apply";

struct OpenJournal {
  std::string text;
  apply::FolderIdentity folder;
};

Result<OpenJournal> read_journal(const std::string& journal_path) {
  const std::string name(last_component(journal_path));
  if (!journal_path.starts_with('/') || transaction_kind_of(name) != TransactionKind::Journal) {
    return fail(path_form(kCannotRecover, "this is not a transaction journal", journal_path));
  }
  const std::string folder_path(parent_path(journal_path));
  const auto folder = sys::open_without_links(folder_path, O_PATH | O_DIRECTORY);
  if (!folder) return fail(path_error(kCannotRecover, folder.error(), journal_path));
  const auto status = sys::fstat(folder->get());
  if (!status) return fail(path_error(kCannotRecover, status.error(), journal_path));
  std::string text = TRY(read_file_bounded_at(folder->get(), name, journal_path, kMaxJournalBytes));
  return OpenJournal{std::move(text), apply::FolderIdentity{status->st_dev, status->st_ino}};
}

std::string joined(std::string lead, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) lead.append("\n").append(line);
  return lead;
}

// lists_files: set when the failure names files for the user to keep or remove.
Result<RecoverOutcome> recover(const std::string& journal_path, bool& lists_files) {
  OpenJournal opened = TRY(read_journal(journal_path));
  auto parsed = parse_journal(opened.text);
  if (!parsed) return fail(path_form(kCannotRecover, parsed.error() + "; nothing was changed", journal_path));
  const bool plan_complete = parsed->plan_complete;
  const std::string target = parsed->journal.target;
  const bool committed = parsed->journal.committed;
  apply::Transaction transaction =
      apply::Transaction::resume(std::move(parsed->journal), journal_path, opened.folder);
  if (!plan_complete) {
    // The plan was still being written: no change had been made, and no
    // transaction file created.
    if (auto removed = transaction.roll_back(); !removed.leftovers.empty() || !removed.unrestored.empty()) {
      lists_files = true;
      return fail(joined("Recover could not remove the journal of the interrupted apply:", removed.leftovers));
    }
    return RecoverOutcome{RecoverOutcome::Kind::NothingChanged, target};
  }
  // An apply killed after its commit is still rolled back, as long as every
  // original is at hand: it never reported success. Once its cleanup has
  // removed an original, completing it is the only consistent end.
  if (committed && transaction.fully_applied() && transaction.cleanup_begun()) {
    const apply::Transaction::Cleanup cleanup = transaction.finish();
    if (!cleanup.recovery_files.empty() || !cleanup.journal.empty()) {
      lists_files = true;
      std::string text = joined("The interrupted apply had completed its changes, but some of its transaction files "
                                "could not be removed. Remove them manually after checking your files:",
                                cleanup.recovery_files);
      return fail(joined(std::move(text), cleanup.journal));
    }
    return RecoverOutcome{RecoverOutcome::Kind::Completed, transaction.current_target()};
  }
  const apply::Problems problems = transaction.roll_back();
  if (!problems.unrestored.empty() || !problems.leftovers.empty()) {
    lists_files = true;
    std::optional<std::string> kept;
    if (!transaction.journal_removed()) kept = journal_path;
    return fail(apply::rollback_report("Recover of the interrupted apply did not finish cleanly.", problems, false,
                                       problems.unrestored.empty() ? std::nullopt : kept));
  }
  return RecoverOutcome{RecoverOutcome::Kind::RolledBack, transaction.current_target()};
}

}  // namespace

RecoverFinished run_recover(std::string journal_path) {
  bool lists_files = false;
  Result<RecoverOutcome> outcome = recover(journal_path, lists_files);
  return RecoverFinished{std::move(journal_path), std::move(outcome), lists_files};
}

std::string recover_outcome_text(const RecoverOutcome& outcome) {
  switch (outcome.kind) {
    case RecoverOutcome::Kind::RolledBack:
      return "The interrupted apply was rolled back. Every file is as it was before that apply.";
    case RecoverOutcome::Kind::NothingChanged:
      return "The interrupted apply had not changed anything yet. Its journal was removed.";
    case RecoverOutcome::Kind::Completed:
      return "The interrupted apply had completed its changes. The transaction files it left were removed.";
  }
  return {};
}

}  // namespace tarnwick
