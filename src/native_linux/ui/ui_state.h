// The main screen's state and logic: fields, options, actions, the worker slot
// and the worker results, all plain functions of UiState that need no X.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/engine.h"
#include "native_linux/ui/backups_panel.h"
#include "native_linux/ui/browser.h"
#include "native_linux/ui/confirmation.h"
#include "native_linux/ui/content_panel.h"
#include "native_linux/ui/progress.h"

namespace tarnwick {

// Limits and fixed sizes of the screen logic.
inline constexpr std::size_t kFieldCount = 7;
inline constexpr std::size_t kMaxFieldBytes = 32768;
inline constexpr std::size_t kReviewPageEntries = 100;
// A press this soon after an overlay opened is the tail of the click that
// opened it (a double click), not a decision made inside the overlay.
inline constexpr std::int64_t kOverlayPressGuardMilliseconds = 500;

// Text field ids.
inline constexpr std::size_t kFieldTarget = 0;
inline constexpr std::size_t kFieldFind = 1;
inline constexpr std::size_t kFieldReplacement = 2;
inline constexpr std::size_t kFieldDepth = 3;
inline constexpr std::size_t kFieldExtensions = 4;
inline constexpr std::size_t kFieldBrowserPath = 5;
inline constexpr std::size_t kFieldBackupDestination = 6;

// The extension-filter buttons, in the order the screen shows them.
inline constexpr std::array<ExtensionFilter::Mode, 3> kExtensionFilterButtons{
    ExtensionFilter::Mode::All, ExtensionFilter::Mode::OnlyListed, ExtensionFilter::Mode::ExcludeListed};

enum class UiAction : std::uint8_t {
  FocusField = 0,
  BrowseTarget = 1,
  OpenBackupsPanel = 2,
  ToggleBackupBeforeApply = 3,
  BrowseBackupFolder = 4,
  BackUpNow = 5,
  CopyDetails = 6,
  CloseBackupsPanel = 7,
  ToggleMatchCase = 8,
  ToggleIncludeFolderContents = 9,
  ToggleUnlimitedDepth = 10,
  ToggleEditFileContents = 11,
  OpenContentSettings = 12,
  ChooseContentMode = 13,
  ToggleEncodingList = 14,
  ChooseEncoding = 15,
  ToggleBinaryLengthChanges = 16,
  CloseContentSettings = 17,
  ChooseExtensionFilter = 18,
  PreviewChanges = 19,
  ApplyReviewedChanges = 20,
  PreviousPage = 21,
  NextPage = 22,
  CopyReview = 23,
  ConfirmApply = 24,
  CancelConfirmation = 25,
  CloseBrowser = 26,
  UseBrowserChoice = 27,
  BrowserUp = 28,
  BrowserHome = 29,
  BrowserOpenFolder = 30,
  BrowserToggleHidden = 31,
  BrowserRowClicked = 32,
  CopyAllPages = 33,
  RecoverInterruptedApply = 34,
  ReviewScrollBar = 35,  // a press on the review's scroll bar: pages or starts a drag
  TogglePreserveCase = 36,
  CancelWork = 37,  // Cancel beside the progress of a running worker
  UndoLastApply = 38,
};

enum class StatusSeverity : std::uint8_t { Information, Stopped };  // shown as "NOTICE" or "OPERATION STOPPED"

struct StatusLine {
  StatusSeverity severity = StatusSeverity::Information;
  std::string message;
};

// The receiving end of the one running worker, and which long operation runs.
struct WorkerSlot {
  std::optional<EventReceiver> receiver;
  WorkerKind kind = WorkerKind::Preview;
  bool apply_running = false;
  bool backup_running = false;
  // Shared with the worker's body: its progress, and the cancel request.
  std::shared_ptr<WorkerControl> control;
  // Monotonic time of the first pass that saw the worker run.
  std::optional<std::int64_t> started_ms;
  // The progress as last drawn.
  ProgressView progress;

  bool busy() const { return receiver.has_value(); }
};

// Starts a worker thread; replaceable so tests can run bodies inline or fail.
using WorkerSpawner = std::function<bool(std::function<WorkerEvent()>, EventSender)>;

// A paste asked for by Control+V, remembered until the text arrives.
struct PendingPaste {
  std::size_t field = 0;
  bool replace_whole_text = false;
};

// The excerpt lines of the shown review page's entries, composed once per
// page (from the preview's bytes) instead of on every frame.
struct ReviewExcerpts {
  std::optional<std::size_t> page;                // the page they belong to
  std::vector<std::vector<ExcerptLine>> entries;  // one list per entry of that page
};

// The review's scroll bar as last drawn: presses and drags on it, and End,
// scroll the lines that were on screen.
struct ReviewScrollView {
  Rect track;
  std::uint64_t total_lines = 0;
  std::uint64_t visible_lines = 1;
};

struct UiState {
  std::optional<OperationRequest> request_snapshot;
  WorkerSlot worker;
  WorkerSpawner spawn = spawn_worker;

  // Text fields 0-6; see the kField ids.
  std::array<std::string, kFieldCount> fields{"", "Tarn", "Tarnwick", "1", "", "", ""};

  std::optional<std::string> last_completed_backup;
  std::optional<PreviewPlan> preview;
  std::uint64_t items_scanned = 0;
  std::uint64_t depth = 1;
  std::size_t encoding_index = 0;
  std::size_t page = 0;
  bool match_case = true;
  // Takes effect only while match case is off; the box is disabled otherwise.
  bool preserve_case = false;
  bool include_folder_contents = true;
  bool unlimited_depth = true;
  bool edit_file_contents = false;
  bool allow_binary_length_changes = false;
  bool back_up_before_apply = true;
  ContentMode content_mode = ContentMode::TextAndBinary;
  ExtensionFilter::Mode extension_filter = ExtensionFilter::Mode::All;
  std::optional<StatusLine> status;
  // An apply failure that lists files the user must preserve. It outlives the
  // edits that drop an ordinary status, up to the next operation.
  std::optional<std::string> recovery_report;
  std::optional<ApplyOutcome> results;
  // What the last completed apply did, for "Undo last apply": kept until the
  // next preview, apply or undo starts, or the target text changes.
  std::optional<UndoRecord> undo_record;
  // The journal of an interrupted apply that the last preview found in or
  // above the target; while known, the review offers Recover.
  std::optional<std::string> interrupted_apply_journal;
  // The request of the preview an apply is running from: an apply that stops
  // before touching the target gives its plan back, and the two return together.
  std::optional<OperationRequest> applying_request;

  std::string clipboard_text;
  bool clipboard_claim_pending = false;  // the window must take CLIPBOARD ownership
  bool paste_request_pending = false;    // the window must ask for the CLIPBOARD text
  std::optional<PendingPaste> pending_paste;

  std::int64_t review_scroll = 0;
  ReviewExcerpts review_excerpts;
  ReviewScrollView review_view;
  // While the review's scroll-bar thumb is dragged: where in the thumb it was grabbed.
  std::optional<std::int32_t> review_drag_grab;

  // Alt is held: the main screen underlines the letters of its Alt chords.
  bool alt_held = false;

  std::optional<std::size_t> focused_field;
  std::size_t cursor = 0;
  bool whole_text_selected = false;

  // The overlays, each with the state its own file keeps.
  ConfirmationState confirmation;
  BackupsPanelState backups_panel;
  ContentPanelState content_panel;
  BrowserState browser;
  // Monotonic time the topmost overlay opened, for the press guard.
  std::optional<std::int64_t> overlay_opened_ms;
  // The window was closed during cancellable work: it closes once the worker's event is in.
  bool close_when_worker_ends = false;
};

// --- small text helpers -----------------------------------------------------

// True when the text is empty after trimming Unicode white space.
bool is_blank(std::string_view text);
// An optional "+" and one or more decimal digits that fit in 64 bits.
std::optional<std::uint64_t> parse_depth(std::string_view text);
// Removes U+0000-U+001F and U+007F-U+009F.
std::string strip_control_characters(std::string_view text);

// --- state operations -------------------------------------------------------

void set_status(UiState& ui, StatusSeverity severity, std::string message);
// Drops the preview, snapshot, status and results; the page returns to 0.
void invalidate(UiState& ui);
// Fields 0-4 invalidate and reset the review scroll; field 3 updates the depth.
void set_field_text(UiState& ui, std::size_t field, std::string text);
void focus_field(UiState& ui, std::size_t field);
void clear_focus(UiState& ui);
// Typed or pasted text into the focused field.
void insert_text(UiState& ui, std::string_view text);
// The clipboard text becomes text and the window must take ownership.
void take_clipboard(UiState& ui, std::string text);
// Text that arrived for the paste asked for earlier.
void accept_pasted_text(UiState& ui, std::string_view text);
// The path (or the refusal) of copied files pasted into a path field: the path
// is inserted as pasted text would be; a refusal becomes the status.
void accept_pasted_path(UiState& ui, Result<std::string> path);
// The target, the browser's path and the backup destination hold paths.
bool is_path_field(std::size_t field);
// "~" and "~/…" at the start of a path text, from HOME (when it is absolute);
// any other text as it is.
std::string expand_home(std::string_view path);

bool depth_field_valid(const UiState& ui);
bool depth_field_shown(const UiState& ui);
bool any_overlay_open(const UiState& ui);
// The confirmation, the Backups panel or the browser: a dialog that takes the
// keys, under which no other overlay may open.
bool dialog_open(const UiState& ui);
// Drops are taken only with no worker and no overlay.
bool drop_allowed(const UiState& ui);
// A dropped path that parsed: it becomes the target.
void accept_dropped_path(UiState& ui, std::string path);

OperationRequest build_request(const UiState& ui);
std::size_t review_page_count(const UiState& ui);
std::size_t shown_review_page(const UiState& ui);

// --- Alt chords of the main screen (mnemonics.cpp) --------------------------

// A control of the main screen that Alt with its letter activates, exactly as
// a click on it would: only while it is enabled and nothing lies over it.
struct Mnemonic {
  char letter = 0;  // lower case; underlined where it first occurs in the label
  UiAction action = UiAction::FocusField;
  std::uint32_t payload = 0;
};

// Whether the control of this action (and payload) is enabled on the main screen.
bool main_control_enabled(const UiState& ui, UiAction action, std::uint32_t payload = 0);
// Alt chords reach the main screen only while no worker runs and no overlay is open.
bool mnemonics_active(const UiState& ui);
// The control Alt with this letter (either case) activates, if any.
std::optional<Mnemonic> mnemonic_for(char letter);
// The letter to underline in the control's label now: while Alt is held and
// the chords are active; else 0.
char shown_mnemonic(const UiState& ui, UiAction action, std::uint32_t payload = 0);
// Alt with a letter: true when it was one of the main screen's chords.
bool activate_mnemonic(UiState& ui, char letter, std::int64_t now_ms);

// --- the review's scroll bar and keys (review_pane.cpp) ------------------------

// A press at y on the scroll bar: above or below the thumb a page up or down,
// on the thumb the start of a drag.
void press_review_scroll_bar(UiState& ui, std::int32_t y);
// The pointer moved to y with the button held: a drag follows it.
void drag_review_scroll_bar(UiState& ui, std::int32_t y);
void end_review_drag(UiState& ui);
// Home and End with no field focused.
void scroll_review_to_top(UiState& ui);
void scroll_review_to_bottom(UiState& ui);

// --- actions and workers ----------------------------------------------------

void dispatch_action(UiState& ui, UiAction action, std::uint32_t payload, std::int64_t now_ms);
// True while a press must be ignored because an overlay has just opened.
bool press_guard_active(const UiState& ui, std::int64_t now_ms);

void start_preview(UiState& ui);
void start_apply(UiState& ui);
void start_backup(UiState& ui);
// Rolls back the interrupted apply whose journal the last preview found.
void start_recover(UiState& ui);
// Plans the undo of the last completed apply; its plan is reviewed and applied like a preview.
void start_undo(UiState& ui);
// An apply, recover or backup runs (not a preview): the window must stay open.
bool long_operation_running(const UiState& ui);
// The close guard: true when the window may close now; otherwise the status
// says why (a notice: the work goes on, nothing stopped).
bool allow_close(UiState& ui);
// A close asked for during cancellable work may happen now: the worker has ended.
bool close_ready(const UiState& ui);
// Cancel or Escape while work that has changed nothing runs; nothing otherwise.
void cancel_running_work(UiState& ui);
// Reads the running worker's progress; true when what is shown changed.
bool refresh_progress(UiState& ui, std::int64_t now_ms);
// Takes at most one message from the running worker; true when something changed.
bool poll_worker(UiState& ui);
void handle_worker_event(UiState& ui, WorkerEvent event);

// --- composed texts ---------------------------------------------------------

std::string compose_review_text(const UiState& ui);
// The review text with the marks of its excerpt lines: where the found text
// and its replacement lie (byte ranges of the text).
struct MarkedReviewText {
  std::string text;
  std::vector<ExcerptSpan> marks;
};
MarkedReviewText compose_marked_review_text(const UiState& ui);
// "Copy all": the review text with every page of the preview in turn.
std::string compose_all_pages_review_text(const UiState& ui);
// Composes the shown page's excerpts unless they are held already.
void refresh_review_excerpts(UiState& ui);
// None when the reviewed preview may not be applied now.
std::optional<std::string> compose_confirmation_text(const UiState& ui);
// Shown in the confirmation instead of a text that cannot be composed.
inline constexpr std::string_view kPreviewUnavailable = "This preview is no longer available.";
// What Control+C copies from the confirmation: its text, every notice of the
// preview, and the status message when there is one.
std::string compose_confirmation_copy_text(const UiState& ui);
// The backup choice, destination and last completed backup lines, shared by the
// confirmation and the Backups panel.
std::string compose_backup_choice_text(const UiState& ui);
// "Copy details" of the Backups panel: the backup choice, then the status message.
std::string compose_backup_details_text(const UiState& ui);
std::string_view welcome_text();

// Field placeholders, indexed by field id.
std::string_view field_placeholder(std::size_t field);

}  // namespace tarnwick
