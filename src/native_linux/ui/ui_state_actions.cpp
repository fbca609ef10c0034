// UiAction dispatch, the three start operations, the worker poll and the
// handling of each worker result.
#include <algorithm>
#include <utility>

#include "native_linux/ui/ui_state.h"

namespace tarnwick {
namespace {

constexpr std::string_view kStoppedUnexpectedly =
    "The operation stopped unexpectedly. Review your files before trying again.";

// Which overlay is on top; the open encoding list counts as one of its own.
enum class TopOverlay : std::uint8_t { None, Confirmation, ContentPanel, EncodingList, BackupsPanel, Browser };

TopOverlay topmost_overlay(const UiState& ui) {
  if (ui.browser.open) return TopOverlay::Browser;
  if (ui.backups_panel.open) return TopOverlay::BackupsPanel;
  if (ui.content_panel.open) {
    return ui.content_panel.encoding_list_open ? TopOverlay::EncodingList : TopOverlay::ContentPanel;
  }
  if (ui.confirmation.open) return TopOverlay::Confirmation;
  return TopOverlay::None;
}

bool launch_worker(UiState& ui, WorkerKind kind, std::function<WorkerEvent()> body,
                   std::shared_ptr<WorkerControl> control = nullptr) {
  auto [sender, receiver] = make_channel<WorkerEvent>();
  if (!ui.spawn || !ui.spawn(std::move(body), std::move(sender))) return false;
  ui.worker.receiver = std::move(receiver);
  ui.worker.kind = kind;
  ui.worker.control = std::move(control);
  ui.worker.started_ms.reset();
  ui.worker.progress = read_progress(kind, ui.worker.control.get(), 0);
  // A Recover changes the target like an apply: the window may not close under it.
  ui.worker.apply_running = kind == WorkerKind::Apply || kind == WorkerKind::Recover;
  ui.worker.backup_running = kind == WorkerKind::Backup;
  return true;
}

void release_worker(UiState& ui) {
  ui.worker.receiver.reset();
  ui.worker.control.reset();
  ui.worker.apply_running = false;
  ui.worker.backup_running = false;
}

void preview_changes(UiState& ui) {
  if (ui.include_folder_contents && !ui.unlimited_depth && !depth_field_valid(ui)) {
    invalidate(ui);
    set_status(ui, StatusSeverity::Stopped, "Enter a valid non-negative maximum depth.");
    return;
  }
  ui.review_scroll = 0;
  clear_focus(ui);
  start_preview(ui);
}

void open_confirmation(UiState& ui) {
  if (!compose_confirmation_text(ui)) return;
  ui.confirmation = ConfirmationState{.open = true};
  clear_focus(ui);
}

void confirm_apply(UiState& ui) {
  if (ui.back_up_before_apply && is_blank(ui.fields[kFieldBackupDestination])) return;
  ui.confirmation.open = false;
  clear_focus(ui);
  start_apply(ui);
}

void copy_details(UiState& ui) {
  ui.backups_panel.focus = BackupsFocus::CopyDetails;
  take_clipboard(ui, compose_backup_details_text(ui));
}

// The actions that change the request's options; each invalidates.
void dispatch_option(UiState& ui, UiAction action, std::uint32_t payload) {
  switch (action) {
    case UiAction::ToggleMatchCase:
      ui.match_case = !ui.match_case;
      break;
    case UiAction::TogglePreserveCase:
      if (ui.match_case) return;
      ui.preserve_case = !ui.preserve_case;
      break;
    case UiAction::ToggleIncludeFolderContents:
      ui.include_folder_contents = !ui.include_folder_contents;
      break;
    case UiAction::ToggleUnlimitedDepth:
      ui.unlimited_depth = !ui.unlimited_depth;
      break;
    case UiAction::ToggleEditFileContents:
      ui.edit_file_contents = !ui.edit_file_contents;
      break;
    case UiAction::ChooseContentMode:
      if (!ui.edit_file_contents || payload >= kContentModeRows.size()) return;
      ui.content_mode = kContentModeRows[payload];
      ui.content_panel.focus = ContentFocus::Modes;
      break;
    case UiAction::ChooseEncoding:
      if (!ui.edit_file_contents || payload >= kEncodingRowCount) return;
      ui.encoding_index = payload;
      ui.content_panel.encoding_list_open = false;
      ui.content_panel.focus = ContentFocus::Encoding;
      break;
    case UiAction::ToggleBinaryLengthChanges:
      if (!ui.edit_file_contents || ui.content_mode == ContentMode::TextOnly) return;
      ui.allow_binary_length_changes = !ui.allow_binary_length_changes;
      ui.content_panel.focus = ContentFocus::LengthChanges;
      break;
    case UiAction::ChooseExtensionFilter:
      if (payload >= kExtensionFilterButtons.size()) return;
      ui.extension_filter = kExtensionFilterButtons[payload];
      break;
    default:
      return;
  }
  invalidate(ui);
}

void dispatch_unguarded(UiState& ui, UiAction action, std::uint32_t payload, std::int64_t now_ms) {
  switch (action) {
    case UiAction::FocusField:
      if (payload >= kFieldCount) return;
      focus_field(ui, payload);
      if (payload == kFieldBackupDestination) {
        if (ui.confirmation.open) ui.confirmation.focus = ConfirmFocus::Destination;
        if (ui.backups_panel.open) ui.backups_panel.focus = BackupsFocus::Destination;
      }
      if (payload == kFieldBrowserPath) ui.browser.focus = BrowserFocus::PathField;
      return;
    case UiAction::BrowseTarget:
      if (dialog_open(ui)) return;
      open_browser(ui, BrowserMode::Target);
      return;
    case UiAction::OpenBackupsPanel:
      // Never under another overlay: the panel would take keys unseen.
      if (any_overlay_open(ui)) return;
      open_backups_panel(ui);
      return;
    case UiAction::ToggleBackupBeforeApply:
      ui.back_up_before_apply = !ui.back_up_before_apply;
      if (ui.confirmation.open) ui.confirmation.focus = ConfirmFocus::Checkbox;
      if (ui.backups_panel.open) ui.backups_panel.focus = BackupsFocus::Checkbox;
      clear_focus(ui);
      return;
    case UiAction::BrowseBackupFolder:
      if (ui.browser.open) return;
      open_browser(ui, BrowserMode::BackupFolder);
      return;
    case UiAction::BackUpNow:
      back_up_now(ui, now_ms);
      return;
    case UiAction::CopyDetails:
      clear_focus(ui);
      copy_details(ui);
      return;
    case UiAction::CloseBackupsPanel:
      ui.backups_panel.open = false;
      clear_focus(ui);
      return;
    case UiAction::OpenContentSettings:
      // Never under another overlay: the panel would take every key unseen.
      if (!ui.edit_file_contents || any_overlay_open(ui)) return;
      open_content_panel(ui);
      return;
    case UiAction::ToggleEncodingList:
      toggle_encoding_list(ui);
      return;
    case UiAction::CloseContentSettings:
      ui.content_panel.open = false;
      ui.content_panel.encoding_list_open = false;
      return;
    case UiAction::PreviewChanges:
      preview_changes(ui);
      return;
    case UiAction::ApplyReviewedChanges:
      open_confirmation(ui);
      return;
    case UiAction::RecoverInterruptedApply:
      clear_focus(ui);
      start_recover(ui);
      return;
    case UiAction::UndoLastApply:
      clear_focus(ui);
      start_undo(ui);
      return;
    case UiAction::PreviousPage:
      ui.page = shown_review_page(ui) > 0 ? shown_review_page(ui) - 1 : 0;
      ui.review_scroll = 0;
      return;
    case UiAction::NextPage:
      if (shown_review_page(ui) + 1 < review_page_count(ui)) {
        ui.page = shown_review_page(ui) + 1;
        ui.review_scroll = 0;
      }
      return;
    case UiAction::CopyReview:
      clear_focus(ui);
      refresh_review_excerpts(ui);
      take_clipboard(ui, compose_review_text(ui));
      return;
    case UiAction::CopyAllPages:
      clear_focus(ui);
      take_clipboard(ui, compose_all_pages_review_text(ui));
      return;
    case UiAction::ConfirmApply:
      clear_focus(ui);
      confirm_apply(ui);
      return;
    case UiAction::CancelConfirmation:
      ui.confirmation.open = false;
      clear_focus(ui);
      return;
    case UiAction::CloseBrowser:
    case UiAction::UseBrowserChoice:
    case UiAction::BrowserUp:
    case UiAction::BrowserHome:
    case UiAction::BrowserOpenFolder:
    case UiAction::BrowserToggleHidden:
    case UiAction::BrowserRowClicked:
      dispatch_browser_action(ui, action, payload, now_ms);
      return;
    default:
      dispatch_option(ui, action, payload);
      return;
  }
}

}  // namespace

void dispatch_action(UiState& ui, UiAction action, std::uint32_t payload, std::int64_t now_ms) {
  if (action == UiAction::CancelWork) {
    cancel_running_work(ui);
    return;
  }
  if (ui.worker.busy()) return;
  const TopOverlay overlay_before = topmost_overlay(ui);
  dispatch_unguarded(ui, action, payload, now_ms);
  const TopOverlay overlay_after = topmost_overlay(ui);
  if (overlay_after != overlay_before) {
    ui.overlay_opened_ms = overlay_after != TopOverlay::None ? std::optional(now_ms) : std::nullopt;
  }
}

bool press_guard_active(const UiState& ui, std::int64_t now_ms) {
  return topmost_overlay(ui) != TopOverlay::None && ui.overlay_opened_ms &&
         now_ms - *ui.overlay_opened_ms < kOverlayPressGuardMilliseconds;
}

void start_preview(UiState& ui) {
  if (ui.worker.busy()) return;
  invalidate(ui);
  ui.recovery_report.reset();
  ui.undo_record.reset();
  if (is_blank(ui.fields[kFieldTarget]) || ui.fields[kFieldFind].empty()) {
    set_status(ui, StatusSeverity::Stopped, "Choose a target and enter the text to find.");
    return;
  }
  OperationRequest request = build_request(ui);
  // The body holds the control too: it outlives the window's hold when the
  // window closes under a running preview.
  auto control = std::make_shared<WorkerControl>();
  auto body = [request = std::move(request), control]() mutable -> WorkerEvent {
    return run_preview(std::move(request), control.get());
  };
  if (!launch_worker(ui, WorkerKind::Preview, std::move(body), std::move(control))) {
    set_status(ui, StatusSeverity::Stopped, "Could not start the preview worker.");
  }
}

void start_apply(UiState& ui) {
  if (ui.worker.busy()) return;
  if (!ui.request_snapshot || !same_request(*ui.request_snapshot, build_request(ui))) {
    invalidate(ui);
    set_status(ui, StatusSeverity::Stopped, "Options changed. Create a fresh preview before applying.");
    return;
  }
  if (ui.back_up_before_apply && is_blank(ui.fields[kFieldBackupDestination])) {
    set_status(ui, StatusSeverity::Stopped, "Choose a backup destination, or explicitly turn off backup before Apply.");
    return;
  }
  std::optional<PreviewPlan> plan = std::exchange(ui.preview, std::nullopt);
  // The excerpts belong to that plan; a plan shown again composes its own.
  ui.review_excerpts = {};
  ui.items_scanned = 0;
  if (!plan || plan->changes.empty()) return;
  ui.applying_request = std::exchange(ui.request_snapshot, std::nullopt);
  ui.status.reset();
  ui.results.reset();
  ui.recovery_report.reset();
  ui.undo_record.reset();
  std::optional<std::string> destination;
  if (ui.back_up_before_apply) destination = expand_home(ui.fields[kFieldBackupDestination]);
  auto control = std::make_shared<WorkerControl>();
  auto body = [plan = std::move(*plan), destination = std::move(destination), control]() mutable -> WorkerEvent {
    return run_apply(std::move(plan), std::move(destination), control.get());
  };
  if (!launch_worker(ui, WorkerKind::Apply, std::move(body), std::move(control))) {
    set_status(ui, StatusSeverity::Stopped, "Could not start the apply worker. Create a fresh preview.");
  }
}

void start_undo(UiState& ui) {
  if (ui.worker.busy() || !ui.undo_record) return;
  invalidate(ui);
  ui.recovery_report.reset();
  ui.review_scroll = 0;
  // The plan stands for Apply only while the screen shows this request, as a
  // preview's does. Its checks read each edited file once and take no long.
  auto body = [record = std::move(*std::exchange(ui.undo_record, std::nullopt)),
               request = build_request(ui)]() mutable -> WorkerEvent {
    return run_undo_preview(std::move(record), std::move(request));
  };
  if (!launch_worker(ui, WorkerKind::Preview, std::move(body))) {
    set_status(ui, StatusSeverity::Stopped, "Could not start the preview worker.");
  }
}

void start_recover(UiState& ui) {
  if (ui.worker.busy() || !ui.interrupted_apply_journal) return;
  ui.recovery_report.reset();
  ui.undo_record.reset();
  auto body = [journal = *ui.interrupted_apply_journal]() mutable -> WorkerEvent {
    return run_recover(std::move(journal));
  };
  if (!launch_worker(ui, WorkerKind::Recover, std::move(body))) {
    set_status(ui, StatusSeverity::Stopped, "Could not start the recover worker.");
    return;
  }
  ui.status.reset();
}

void start_backup(UiState& ui) {
  if (ui.worker.busy()) return;
  ui.recovery_report.reset();
  if (is_blank(ui.fields[kFieldTarget]) || is_blank(ui.fields[kFieldBackupDestination])) {
    set_status(ui, StatusSeverity::Stopped, "Choose a target and an existing backup destination folder first.");
    return;
  }
  auto control = std::make_shared<WorkerControl>();
  auto body = [target = expand_home(ui.fields[kFieldTarget]),
               destination = expand_home(ui.fields[kFieldBackupDestination]), control]() mutable -> WorkerEvent {
    return run_backup_only(std::move(target), std::move(destination), control.get());
  };
  if (!launch_worker(ui, WorkerKind::Backup, std::move(body), std::move(control))) {
    set_status(ui, StatusSeverity::Stopped, "Could not start the backup worker.");
    return;
  }
  ui.status.reset();
  clear_focus(ui);
}

bool long_operation_running(const UiState& ui) { return ui.worker.apply_running || ui.worker.backup_running; }

bool allow_close(UiState& ui) {
  if (!long_operation_running(ui)) {
    // A preview is abandoned with the window; asked to stop, it stops reading at once.
    if (ui.worker.control) ui.worker.control->request_cancel();
    return true;
  }
  // Work that has changed nothing is cancelled, and the window closes once
  // the worker has removed what it made and sent its event.
  if (ui.worker.kind != WorkerKind::Recover && ui.worker.control && ui.worker.control->request_cancel()) {
    ui.close_when_worker_ends = true;
    ui.worker.progress.cancel = CancelOffer::Requested;
    set_status(ui, StatusSeverity::Information, "Cancelling\u2026 The window closes once the work has stopped.");
    return false;
  }
  set_status(ui, StatusSeverity::Information, "An operation is still running. Wait for it to finish before closing.");
  return false;
}

bool close_ready(const UiState& ui) { return ui.close_when_worker_ends && !ui.worker.busy(); }

void cancel_running_work(UiState& ui) {
  WorkerSlot& worker = ui.worker;
  if (!worker.busy() || !worker.control || worker.kind == WorkerKind::Recover) return;
  if (worker.progress.cancel != CancelOffer::Offered) return;
  worker.progress.cancel = worker.control->request_cancel() ? CancelOffer::Requested : CancelOffer::Refused;
}

bool refresh_progress(UiState& ui, std::int64_t now_ms) {
  WorkerSlot& worker = ui.worker;
  if (!worker.busy()) return false;
  if (!worker.started_ms) worker.started_ms = now_ms;
  const std::int64_t elapsed = std::max<std::int64_t>(0, now_ms - *worker.started_ms) / 1000;
  ProgressView view = read_progress(worker.kind, worker.control.get(), elapsed);
  if (view == worker.progress) return false;
  worker.progress = std::move(view);
  return true;
}

bool poll_worker(UiState& ui) {
  if (!ui.worker.busy()) return false;
  std::optional<WorkerEvent> event;
  switch (ui.worker.receiver->try_receive(event)) {
    case PollStatus::Empty:
      return false;
    case PollStatus::Message:
      release_worker(ui);
      handle_worker_event(ui, std::move(*event));
      return true;
    case PollStatus::Disconnected:
      release_worker(ui);
      ui.preview.reset();
      ui.items_scanned = 0;
      ui.request_snapshot.reset();
      set_status(ui, StatusSeverity::Stopped, std::string(kStoppedUnexpectedly));
      return true;
  }
  return false;
}

namespace {

// A cancel the user asked for is reported, not shown as a stop.
StatusSeverity severity_of(bool cancelled) { return cancelled ? StatusSeverity::Information : StatusSeverity::Stopped; }

void accept_preview(UiState& ui, PreviewFinished finished) {
  if (!same_request(finished.request, build_request(ui))) {
    ui.preview.reset();
    ui.items_scanned = 0;
    ui.request_snapshot.reset();
    set_status(ui, StatusSeverity::Stopped, "Options changed. Create a fresh preview.");
    return;
  }
  ui.request_snapshot = std::move(finished.request);
  ui.interrupted_apply_journal = std::move(finished.interrupted_apply_journal);
  if (!finished.plan) {
    set_status(ui, severity_of(finished.cancelled), std::move(finished.plan.error()));
    return;
  }
  ui.items_scanned = finished.plan->items_scanned;
  ui.preview = std::move(*finished.plan);
  ui.page = 0;
  ui.review_excerpts = {};
  if (ui.preview->changes.empty()) set_status(ui, StatusSeverity::Information, "No matching changes were found in this scope.");
}

void accept_backup(UiState& ui, BackupFinished finished) {
  if (!finished.result) {
    set_status(ui, severity_of(finished.cancelled), std::move(finished.result.error()));
    return;
  }
  const BackupResult& result = *finished.result;
  set_status(ui, StatusSeverity::Information,
             "Backup complete: " + std::to_string(result.files) + " files / " + std::to_string(result.bytes) +
                 " bytes\n" + result.folder + "\nYour selected files have not been changed.");
  ui.last_completed_backup = result.folder;
}

// The target field follows a renamed target. Written directly: set_field_text
// would invalidate and drop the results, the status and the undo kept with them.
void follow_target(UiState& ui, const std::string& path) {
  ui.fields[kFieldTarget] = path;
  if (ui.focused_field == kFieldTarget) ui.cursor = ui.fields[kFieldTarget].size();
}

void accept_apply(UiState& ui, ApplyFinished finished) {
  std::optional<OperationRequest> request = std::exchange(ui.applying_request, std::nullopt);
  if (!finished.outcome && finished.unchanged_plan && request) {
    // Nothing in the target was touched: the reviewed preview stands, so a
    // fixed destination needs no fresh preview (the apply verifies again).
    ui.items_scanned = finished.unchanged_plan->items_scanned;
    ui.preview = std::move(*finished.unchanged_plan);
    ui.request_snapshot = std::move(request);
    set_status(ui, severity_of(finished.cancelled), std::move(finished.outcome.error()));
    return;
  }
  if (!finished.outcome) {
    ui.preview.reset();
    ui.items_scanned = 0;
    ui.request_snapshot.reset();
    if (finished.failure_lists_files_to_preserve) ui.recovery_report = finished.outcome.error();
    set_status(ui, StatusSeverity::Stopped, std::move(finished.outcome.error()));
    // "Changes completed, but ...": the changes stand, so the target field
    // follows the target as after a clean apply, and they can be undone.
    if (finished.undo) {
      follow_target(ui, finished.undo->applied_target);
      ui.undo_record = std::move(finished.undo);
    }
    return;
  }
  // A close attempt during the apply left "still running" behind; the apply
  // succeeded, so nothing may read as stopped.
  ui.status.reset();
  follow_target(ui, finished.outcome->final_target_path);
  if (finished.outcome->backup) ui.last_completed_backup = finished.outcome->backup->folder;
  ui.results = std::move(*finished.outcome);
  ui.undo_record = std::move(finished.undo);
}

void accept_recover(UiState& ui, RecoverFinished finished) {
  invalidate(ui);
  if (!finished.outcome) {
    if (finished.failure_lists_files_to_preserve) ui.recovery_report = finished.outcome.error();
    set_status(ui, StatusSeverity::Stopped, std::move(finished.outcome.error()));
    return;
  }
  // The target field follows the target back to where it now is.
  if (!finished.outcome->target_path.empty()) follow_target(ui, finished.outcome->target_path);
  set_status(ui, StatusSeverity::Information, recover_outcome_text(*finished.outcome));
}

}  // namespace

void handle_worker_event(UiState& ui, WorkerEvent event) {
  std::visit(
      [&ui](auto&& finished) {
        using Kind = std::decay_t<decltype(finished)>;
        if constexpr (std::is_same_v<Kind, PreviewFinished>) {
          accept_preview(ui, std::move(finished));
        } else if constexpr (std::is_same_v<Kind, BackupFinished>) {
          accept_backup(ui, std::move(finished));
        } else if constexpr (std::is_same_v<Kind, RecoverFinished>) {
          accept_recover(ui, std::move(finished));
        } else {
          accept_apply(ui, std::move(finished));
        }
      },
      std::move(event));
}

}  // namespace tarnwick
