// Internals of the apply transaction and of Recover: plan verification, the
// journalled transaction with its phases, the final cleanup and the rollback.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "backup/backup.h"
#include "common/fs.h"
#include "common/result.h"
#include "engine/engine.h"
#include "engine/folder_access.h"
#include "engine/journal.h"
#include "engine/limits.h"
#include "engine/name_rules.h"
#include "engine/transaction_names.h"

namespace tarnwick::apply {

// A re-read that proves a file still holds the bytes the preview read.
inline constexpr std::uint64_t kVerifyReadLimitBytes = limits::kApplyVerifyReadLimitBytes;
// A re-read that compares installed, recovery or stage content.
inline constexpr std::uint64_t kCompareReadLimitBytes = limits::kApplyCompareReadLimitBytes;
inline constexpr int kMaxReservationAttempts = 128;
// Folders of one filesystem flushed one at a time up to this many; beyond, one
// syncfs flushes them all at once (each folder flush waits for the disk).
inline constexpr std::size_t kMaxFolderFlushesPerFilesystem = 16;

// --- Verification -----------------------------------------------------------

// The re-read of a file expected to hold these bytes: an undo expects the
// bytes an apply wrote, which may exceed what a preview reads.
std::uint64_t verify_read_limit(std::string_view expected);
// One record against the filesystem: identity, original bytes, folder listing.
Result<void> verify_record(const ScanRecord& record);
// Every record, then the collision and destination rule; one step of phase
// per record. Stops between records with kApplyCancelled when asked.
Result<void> verify_plan(const PreviewPlan& plan, ApplyPhase phase, WorkerControl& control);

// The canonical backup destination, refused when it is the target's final
// path or inside it.
Result<std::string> prepare_backup_destination(const std::string& destination, const std::string& final_target);

// "{failure}\nComplete original backup retained at: {folder}"
std::string with_backup_note(std::string failure, const std::optional<BackupResult>& backup);

// The path the plan's target will have after every planned rename.
std::string planned_final_target(const PreviewPlan& plan);

// --- Files inside open folders ----------------------------------------------

// A file read back and compared with the bytes it should hold.
enum class ReadBack : std::uint8_t { Equal, Different, Missing, Unreadable };
struct Comparison {
  ReadBack state = ReadBack::Different;
  int error = 0;  // for Unreadable
};
// Opens without following a link; a link, a special file, a hard-linked file
// or one above the compare limit counts as different.
Comparison compare_file_at(int folder, const std::string& name, std::string_view expected);

// Writes everything; a failure is "{lead}: {system error}" naming path.
Result<void> write_all(int fd, std::string_view bytes, std::string_view lead, const std::string& path);

// A free name of the given kind in an open folder, probed without creating it:
// "Cannot create transaction file" or "Could not reserve a unique transaction filename.".
Result<std::string> choose_transaction_name(int folder, const std::string& folder_path, TransactionKind kind);

// What a rollback, Recover or the final cleanup could not settle.
struct Problems {
  // A user's entry that is not back where it belongs, each naming where its bytes are.
  std::vector<std::string> unrestored;
  // Hidden transaction files kept, or not removed, each named.
  std::vector<std::string> leftovers;
};

// The cleanup rule for a transaction file: nothing there, nothing done; the
// file judge finds Equal to what it should be, removed; anything else kept and
// named. judge gets the file's own metadata (no link followed).
using FileJudge = std::function<Comparison(const struct stat&)>;
void clean_up_transaction_file(int folder, const std::string& name, const std::string& path, const FileJudge& judge,
                               std::vector<std::string>& problems);
// The rule for a file that should hold expected bytes.
void clean_up_transaction_file(int folder, const std::string& name, const std::string& path,
                               std::string_view expected, std::vector<std::string>& problems);

// --- The transaction ----------------------------------------------------------

// What this process did to one install; Recover knows nothing and reads the disk.
struct InstallProgress {
  bool stage_created = false;     // this run created the stage file exclusively
  bool reservation_held = false;  // the empty file keeping the recovery name is ours and still there
  bool original_moved = false;    // the original may be at the recovery name
  bool installed = false;         // the stage file took the original's place
};

class Transaction {
 public:
  // Chooses the transaction file names and creates the (empty) journal; on
  // failure nothing at all has changed.
  static Result<Transaction> begin(const PreviewPlan& plan);
  // A journal read back by Recover: what happened is read from the disk.
  static Transaction resume(TransactionJournal journal, std::string journal_path, FolderIdentity journal_folder);

  // The phases, in order. The first failure ends the forward way; roll_back()
  // then undoes whatever was done.
  Result<void> write_journal();     // the plan written and flushed with its folder, before any change
  Result<void> stage_contents();    // stage files written, their identities journalled, then all flushed at once
  Result<void> flush_journal();     // those identities durable before the first install (when not yet)
  Result<void> install_contents();  // originals aside, stage files in their place
  Result<void> rename_entries();    // deepest first
  // The commit mark, then every changed folder and the journal flushed: from
  // here on the changes survive a power loss, and Recover completes the
  // cleanup instead of rolling back.
  Result<void> commit();

  struct Cleanup {
    std::vector<std::string> recovery_files;  // kept or not removed
    std::vector<std::string> journal;         // the journal not removed or its folder not flushed
  };
  // After commit(): removes the recovery files (each only after reading back
  // the original), then the journal.
  Cleanup finish();
  // Undoes, last first, every rename and install that may have happened, then
  // flushes the folders; the journal is removed when every entry is restored.
  Problems roll_back();

  // Recover: every install holds its stage file and every rename is in place,
  // so the apply had completed everything but its cleanup.
  bool fully_applied();
  // Recover, after fully_applied(): the cleanup had removed a recovery file,
  // so the changes can no longer be undone and only completing is left.
  bool cleanup_begun();

  // Each step of the phases from now on is counted there (Recover counts none).
  void count_steps_in(ApplyProgress& steps) { steps_ = &steps; }

  const std::string& journal_path() const { return journal_path_; }
  bool journal_removed() const { return journal_removed_; }
  // The target's path with the renames now in effect.
  std::string current_target() const;
  // Any planned path with the renames now in effect.
  std::string current_path(std::string_view original_path) const;
  // The file installed at a planned content change, as it was staged.
  std::optional<FileIdentity> installed_identity(std::string_view original_path) const;

 private:
  Transaction() = default;

  Result<void> create_journal(const std::vector<std::string>& candidates,
                              const std::unordered_map<std::string_view, const ScanRecord*>& records);
  // This process's bytes of an install (Recover has none).
  const std::string& original_bytes_of(std::size_t install) const;
  const std::string& replacement_bytes_of(std::size_t install) const;
  // The journal's folder at an original folder path (one the journal lists).
  std::size_t index_of_folder(std::string_view original_folder) const;
  FolderIdentity folder_identity(std::string_view original_folder) const;
  FolderResult open_folder_of(std::string_view original_path);
  void note_change_in_folder_of(std::string_view original_path);
  Result<void> append_to_journal(const std::string& line);
  // A filesystem holding stage files: the descriptor of the first stage file
  // there, open since before its first byte, and its path for a failed flush.
  struct StagedFilesystem {
    std::uint64_t device = 0;
    sys::UniqueFd descriptor;
    std::string first_stage_path;
  };
  Result<void> flush_stage_files(const std::vector<StagedFilesystem>& filesystems);
  Result<void> flush_folder(int folder, const std::string& path);
  Result<void> flush_filesystem(int folder, const std::string& path);
  // syncfs through the journal's descriptor; a failure names the given folder of the journal.
  Result<void> flush_filesystem_of_journal(std::size_t folder);
  Result<void> flush_changed_folders(const std::vector<std::size_t>& folders);
  Result<void> remove_journal();
  void step_done() {
    if (steps_ != nullptr) steps_->advance();
  }

  Problems undo_everything();
  void undo_renames(Problems& problems);
  void undo_install(std::size_t index, Problems& problems);
  void clean_up_stage(std::size_t index, int folder, const std::string& folder_path, std::vector<std::string>& problems);
  void clean_up_recovery(std::size_t index, int folder, const std::string& folder_path,
                         std::vector<std::string>& problems);
  void clean_up_reservation(std::size_t index, int folder, const std::string& folder_path,
                            std::vector<std::string>& problems);

  bool is_renamed_entry(const struct stat& status, const JournalRename& rename) const;
  enum class Holds : std::uint8_t { Nothing, Original, Stage, Other };
  Holds what_is_at(std::size_t index, int folder, const std::string& name);
  bool holds_original(std::size_t index, int folder, const std::string& name);

  TransactionJournal journal_;
  // Looked up by views of the journal's paths, without a copy of each.
  struct PathHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view path) const { return std::hash<std::string_view>{}(path); }
  };
  using PathIndex = std::unordered_map<std::string, std::size_t, PathHash, std::equal_to<>>;
  PathIndex folder_index_;   // original folder path -> journal_.folders
  PathIndex install_index_;  // original path -> journal_.installs
  std::vector<const ScanRecord*> records_;  // per install, for its bytes; empty in Recover
  std::vector<const ScanRecord*> rename_records_;  // per rename, for its checks; empty in Recover
  std::vector<InstallProgress> progress_;   // per install; empty in Recover
  std::vector<bool> folder_changed_;        // per journal folder: this run changed an entry there
  bool inferred_ = false;                   // Recover: nothing known, everything read from disk
  RenameMap in_effect_;  // original path -> own-renamed path, for the renames now on disk
  std::string journal_path_;
  std::string journal_folder_;
  FolderIdentity journal_folder_identity_;
  sys::UniqueFd journal_fd_;
  bool journal_removed_ = false;
  bool journal_flushed_ = false;  // every line written is on disk through a syncfs of its filesystem
  FolderAccess folders_;
  ApplyProgress* steps_ = nullptr;
};

// What the completed apply of plan did, with the plan's bytes of every
// content change moved out of it.
UndoRecord take_undo_record(PreviewPlan& plan, const Transaction& transaction);

// The text after a failure once the rollback is done: the failure, then what
// could not be restored or removed, and whether the journal was kept for Recover.
std::string rollback_report(std::string failure, const Problems& problems, bool backup_made,
                            const std::optional<std::string>& journal_kept);

}  // namespace tarnwick::apply
