// Internals of the apply transaction: plan verification, hidden transaction
// files, the content and rename phases, the final cleanup and the rollback.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "backup/backup.h"
#include "common/fs.h"
#include "common/result.h"
#include "engine/engine.h"
#include "engine/name_rules.h"

namespace tarnwick::apply {

// A re-read that proves a file still holds the bytes the preview read.
inline constexpr std::uint64_t kVerifyReadLimitBytes = 64ull << 20;
// A re-read that compares installed, recovery or stage content.
inline constexpr std::uint64_t kCompareReadLimitBytes = 128ull << 20;
inline constexpr int kMaxReservationAttempts = 128;

enum class TransactionKind : std::uint8_t { Stage, Recovery };

// Numbers every hidden transaction file of this process; each attempt takes one value.
std::atomic<std::uint64_t>& transaction_counter();

// "{folder of beside}/.tarnwick-{pid}-{counter}-{stage|recovery}"
std::string transaction_file_path(std::string_view beside, std::uint64_t counter, TransactionKind kind);

struct ReservedFile {
  std::string path;
  sys::UniqueFd fd;
};
// Creates a new hidden file beside the given file exclusively (0600, write-only).
Result<ReservedFile> reserve_transaction_file(std::string_view beside, TransactionKind kind);

struct ContentTransaction {
  std::string original_path;
  std::string stage_path;
  std::string recovery_path;
  const ScanRecord* record = nullptr;
  // The original was renamed to the recovery path; until then the recovery
  // name holds nothing of ours and the original was never touched.
  bool moved_aside = false;
};

struct DoneRename {
  std::string original_path;
  std::string renamed_path;
};

// --- Verification -----------------------------------------------------------

// One record against the filesystem: identity, original bytes, folder listing.
Result<void> verify_record(const ScanRecord& record);
// Every record, then the collision and destination rule.
Result<void> verify_plan(const PreviewPlan& plan);

// The canonical backup destination, refused when it is the target's final
// path or inside it.
Result<std::string> prepare_backup_destination(const std::string& destination, const std::string& final_target);

// "{failure}\nComplete original backup retained at: {folder}"
std::string with_backup_note(std::string failure, const std::optional<BackupResult>& backup);

// --- Paths ------------------------------------------------------------------

RenameMap rename_map(const std::vector<DoneRename>& renames);
// The path the plan's target will have after every planned rename.
std::string planned_final_target(const PreviewPlan& plan);

// --- The transaction ----------------------------------------------------------

// Everything done on disk so far, in order, so that the rollback can undo it.
struct Journal {
  std::vector<ContentTransaction> transactions;
  std::vector<DoneRename> renames;
  // A failed step left hidden files behind that its message names for manual cleanup.
  bool temporary_files_left = false;
};

Result<void> run_content_phase(const PreviewPlan& plan, Journal& journal);
Result<void> run_rename_phase(const PreviewPlan& plan, Journal& journal);
// Problems found while removing the recovery files after a complete apply.
std::vector<std::string> run_final_cleanup(const Journal& journal);
// Undoes the journal in reverse order; returns the problems it could not solve.
std::vector<std::string> roll_back(const Journal& journal);

// Cleanup rule: nothing there, nothing done; the expected bytes, removed;
// anything else kept and reported.
void clean_up_transaction_file(const std::string& path, const std::string& expected,
                               std::vector<std::string>& problems);
// True when a regular file at path holds exactly the expected bytes.
bool holds_bytes(const std::string& path, const std::string& expected);

}  // namespace tarnwick::apply
