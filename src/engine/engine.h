// Operation engine: the request, the preview plan, the worker events and the
// three workers (preview, apply, backup-only).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "backup/backup.h"
#include "common/result.h"
#include "common/types.h"
#include "common/worker_control.h"
#include "content/content.h"
#include "engine/channel.h"
#include "text_codec/text_codec.h"

namespace tarnwick {

struct ExtensionFilter {
  enum class Mode : std::uint8_t { All, OnlyListed, ExcludeListed };
  Mode mode = Mode::All;
  std::vector<std::string> extensions;  // normalized; "" stands for <none>
  bool operator==(const ExtensionFilter&) const = default;
};

// Splits at comma, semicolon, space and line feed; trims Unicode white space;
// drops empty pieces; strips leading full stops; lower-cases ASCII letters.
std::vector<std::string> normalize_extension_list(std::string_view text);

struct OperationRequest {
  std::optional<std::uint64_t> max_depth;  // absent = unlimited; the target is depth 0
  ExtensionFilter extension_filter;
  std::string target;  // as entered; may be relative
  std::string find;
  std::string replacement;
  EncodingChoice encoding;
  bool resizable_binary = false;
  ContentMode content_mode = ContentMode::TextOnly;
  bool match_case = false;
  bool include_folder_contents = true;
  bool edit_contents = false;
  // Each match's replacement takes the case of the match's ASCII letters.
  // Only while match_case is off: with match case on every match has the find
  // text's case already, and a request that asks for both writes the
  // replacement as typed, as if preserve_case were off (see preserves_case).
  bool preserve_case = false;
};

// Whether the request preserves case: preserve_case with match_case off.
bool preserves_case(const OperationRequest& request);

// The request's literals as the replacers take them, made once per request.
MatchCase match_case_of(const OperationRequest& request);
Replacement replacement_of(const OperationRequest& request);

// Target paths compared component by component; preserve_case by what it
// does (preserves_case), so that it differs only while match case is off;
// every other field by value.
bool same_request(const OperationRequest& a, const OperationRequest& b);

inline constexpr std::int32_t kNanosecondsUnavailable = -1;

struct FileIdentity {
  std::int64_t modified_seconds = 0;
  std::int32_t modified_nanoseconds = 0;  // kNanosecondsUnavailable when the system reports >= 10^9
  std::uint64_t size = 0;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint32_t mode = 0;
  bool read_only = false;
  bool is_folder = false;
  bool operator==(const FileIdentity&) const = default;
};

struct ChangeEntry {
  std::string original_path;
  std::string final_path;
  std::optional<std::string> content_summary;
  std::uint64_t literal_count = 0;
  bool is_folder = false;
  bool name_changes = false;
  bool content_changes = false;
  bool binary_or_resource = false;
  bool game_resource = false;  // of the binary or resource edits, a game-resource one
};

struct ScanRecord {
  std::string original_path;
  std::string own_renamed_path;
  std::optional<std::string> original_bytes;
  std::optional<std::string> replacement_bytes;
  std::optional<std::vector<std::string>> folder_listing;  // sorted
  FileIdentity identity;
  std::uint64_t depth = 0;
};

// What a plan undoes: a preview plans a change; an undo plan puts back what
// the last completed apply changed.
enum class PlanKind : std::uint8_t { Preview, Undo };

struct PreviewPlan {
  PlanKind kind = PlanKind::Preview;
  std::vector<ChangeEntry> changes;
  std::vector<Notice> notices;
  std::string target_path;  // canonical, absolute
  std::vector<ScanRecord> scan_records;
  std::uint64_t items_scanned = 0;
};

struct ApplyOutcome {
  std::string final_target_path;
  std::optional<BackupResult> backup;
  std::uint64_t names_changed = 0;
  std::uint64_t files_edited = 0;
  std::uint64_t literal_replacements = 0;
};

// One entry a completed apply touched, as the apply left it. The target and
// the folders holding renamed entries are kept too, unchanged or not, so that
// an undo can prove they are still the same.
struct UndoEntry {
  std::string applied_path;   // where the apply left it
  std::string original_path;  // where it was before the apply
  std::uint64_t depth = 0;
  // As the apply left it. Of a folder only the device and inode count: every
  // rename and transaction file inside it changed its times.
  FileIdentity applied_identity;
  // A content edit: the bytes the apply installed and the bytes they replaced.
  std::optional<std::string> written_bytes;
  std::optional<std::string> original_bytes;
  std::uint64_t literal_count = 0;
  bool binary_or_resource = false;
  bool game_resource = false;
};

// What a completed apply did, kept in memory only, to be undone exactly. The
// bytes are the plan's own, moved here when the apply completed.
struct UndoRecord {
  std::string applied_target;     // the target's path after the apply
  std::vector<UndoEntry> entries;  // in the apply's walk order: the target first, parents before children
};

struct PreviewFinished {
  OperationRequest request;
  Result<PreviewPlan> plan;
  // Set when the preview was refused because an earlier apply was interrupted
  // in or above the target: the journal to hand to run_recover.
  std::optional<std::string> interrupted_apply_journal = std::nullopt;
  // The user cancelled it: the failure text is kPreviewCancelled.
  bool cancelled = false;
};
struct BackupFinished {
  Result<BackupResult> result;
  // The user cancelled it and everything it had created is removed again: the
  // failure text is kBackupCancelled. A cancelled backup that could not remove
  // all of it is an ordinary failure naming what is left.
  bool cancelled = false;
};
struct ApplyFinished {
  Result<ApplyOutcome> outcome;
  // A failure whose text names files the user must keep or remove by hand: an
  // incomplete rollback, recovery files left after the changes, or hidden
  // transaction files that could not be removed.
  bool failure_lists_files_to_preserve = false;
  // The plan, given back when the apply stopped before it changed anything in
  // the target and the plan still matches the target (the backup destination
  // was missing or refused, the backup failed, or the user cancelled): the
  // window can hold the preview again, so that Apply works once the
  // destination is mended. Absent after any change, and when verification
  // found the selection changed.
  std::optional<PreviewPlan> unchanged_plan = std::nullopt;
  // The user cancelled it before its first change: the failure text begins
  // with kApplyCancelled and the plan is given back.
  bool cancelled = false;
  // Every change is made (an outcome, or "Changes completed, but ..."): what
  // it did, for build_undo_plan. Absent after a failure and its rollback.
  std::optional<UndoRecord> undo = std::nullopt;
};

// What Recover did with an interrupted apply.
struct RecoverOutcome {
  enum class Kind : std::uint8_t {
    RolledBack,      // every change it had made is undone
    NothingChanged,  // it had not changed anything yet; only its journal was left
    Completed,       // it had made every change and begun its cleanup; the rest of that is done
  };
  Kind kind = Kind::RolledBack;
  std::string target_path;  // where the interrupted apply's target is now ("" when unknown)
};
struct RecoverFinished {
  std::string journal_path;
  Result<RecoverOutcome> outcome;
  // A failure whose text names files the user must keep or remove by hand
  // (and, while the journal is kept, the journal for another Recover).
  bool failure_lists_files_to_preserve = false;
};

using WorkerEvent = std::variant<PreviewFinished, BackupFinished, ApplyFinished, RecoverFinished>;

using EventSender = OneShotSender<WorkerEvent>;
using EventReceiver = OneShotReceiver<WorkerEvent>;

inline constexpr std::string_view kPreviewCancelled = "Preview cancelled.";
inline constexpr std::string_view kApplyCancelled =
    "Apply cancelled before any change. Your preview is still available.";

// The worker bodies, callable synchronously (tests) or on a worker thread.
// With a control, each publishes its progress there and stops when asked to
// cancel (an apply only before its first change to the target).
PreviewFinished run_preview(OperationRequest request, WorkerControl* control = nullptr);
ApplyFinished run_apply(PreviewPlan plan, std::optional<std::string> backup_destination,
                        WorkerControl* control = nullptr);
BackupFinished run_backup_only(std::string target, std::string destination, WorkerControl* control = nullptr);
// Rolls back the apply interrupted under this journal (the path a refused
// preview names), or, when its final cleanup had already removed an original,
// completes that cleanup instead. Call it on a worker thread: its result is
// one RecoverFinished event.
RecoverFinished run_recover(std::string journal_path);

// The plan that puts back what the apply of record did, checked against the
// filesystem: every renamed entry still where and as the apply left it, its
// original name free, every edited file holding exactly the bytes the apply
// wrote. Any difference refuses the whole undo with "Cannot undo: {path}
// changed after the apply." naming the first entry that differs. The plan's
// records carry what the apply re-verifies, so run_apply carries it out like
// any preview. On success the record's bytes move into the plan and the record
// is spent; on refusal it is left as it was.
Result<PreviewPlan> build_undo_plan(UndoRecord& record);
// The same on a worker thread, reported like a preview: request is the
// screen's request when the undo started, so that the plan stands for Apply
// only while the screen still shows that request.
PreviewFinished run_undo_preview(UndoRecord record, OperationRequest request);

// The sentence that reports a successful Recover.
std::string recover_outcome_text(const RecoverOutcome& outcome);

// The excerpt lines of one change's content edit (compose_content_excerpts),
// computed from the bytes the plan holds; none for a change of name only,
// when the plan holds no bytes for it, or for an undo (which restores bytes
// and replaces no literal).
// request is the one the plan was made from.
Result<std::vector<ExcerptLine>> compose_change_excerpts(const PreviewPlan& plan, const ChangeEntry& change,
                                                         const OperationRequest& request);

// Starts a detached thread that runs body and sends its one event. Returns
// false when the thread cannot be created (the sender is then dropped).
bool spawn_worker(std::function<WorkerEvent()> body, EventSender sender);

}  // namespace tarnwick
