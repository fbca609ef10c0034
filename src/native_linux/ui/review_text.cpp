// The review pane's text: status block, running texts, apply results, one
// preview page with its notices, or the welcome text.
#include <algorithm>
#include <string>

#include "native_linux/ui/ui_state.h"

namespace tarnwick {
namespace {

std::string_view running_text(WorkerKind kind) {
  switch (kind) {
    case WorkerKind::Preview:
      return "Building your preview...\nYour files stay unchanged during preview.";
    case WorkerKind::Apply:
      return "Preparing backup and applying reviewed changes...\n"
             "If backup is enabled, it must finish before any file changes.\n"
             "Keep the app open until this operation finishes.";
    case WorkerKind::Backup:
      return "Creating and verifying your backup...\n"
             "The entire selected target is copied. Your selected files stay unchanged.\n"
             "Keep the app open until the backup finishes.";
  }
  return {};
}

void append_results(std::string& text, const ApplyOutcome& results) {
  text.append("CHANGES COMPLETE\n\n")
      .append(std::to_string(results.names_changed))
      .append(" names changed\n")
      .append(std::to_string(results.files_edited))
      .append(" files edited\n")
      .append(std::to_string(results.literal_replacements))
      .append(" literal replacements\n\nCurrent target\n")
      .append(results.final_target_path);
  if (!results.backup) {
    text += "\n\nAutomatic backup was turned off for this operation.";
    return;
  }
  text.append("\n\nOriginals backed up and verified\n")
      .append(results.backup->folder)
      .append("\n")
      .append(std::to_string(results.backup->files))
      .append(" files / ")
      .append(std::to_string(results.backup->bytes))
      .append(" bytes\nThe backup keeps original names and data.");
}

std::string_view content_label(const ChangeEntry& entry) {
  if (!entry.content_changes) return {};
  if (entry.content_summary) return *entry.content_summary;
  return "CONTENT";
}

void append_preview_page(std::string& text, const UiState& ui) {
  const PreviewPlan& plan = *ui.preview;
  const auto renames = std::ranges::count_if(plan.changes, [](const ChangeEntry& e) { return e.name_changes; });
  const auto contents = std::ranges::count_if(plan.changes, [](const ChangeEntry& e) { return e.content_changes; });
  const std::size_t page = shown_review_page(ui);
  text.append(std::to_string(renames))
      .append(" renames / ")
      .append(std::to_string(contents))
      .append(" content edits / ")
      .append(std::to_string(ui.items_scanned))
      .append(" items scanned\nPage ")
      .append(std::to_string(page + 1))
      .append(" of ")
      .append(std::to_string(review_page_count(ui)))
      .append("\n\n");
  const std::size_t first = page * kReviewPageEntries;
  const std::size_t entries_end = std::min(plan.changes.size(), first + kReviewPageEntries);
  for (std::size_t i = first; i < entries_end; ++i) {
    const ChangeEntry& entry = plan.changes[i];
    text.append(entry.is_folder ? "FOLDER  " : "FILE  ")
        .append(entry.name_changes ? "NAME " : "")
        .append(content_label(entry))
        .append("  ")
        .append(std::to_string(entry.literal_count))
        .append(" literal matches\n")
        .append(entry.original_path)
        .append("\n> ")
        .append(entry.final_path)
        .append("\n\n");
  }
  if (plan.notices.empty()) return;
  text.append("PREVIEW NOTICES (").append(std::to_string(plan.notices.size())).append(")\n");
  const std::size_t notices_end = std::min(plan.notices.size(), first + kReviewPageEntries);
  for (std::size_t i = first; i < notices_end; ++i) text.append("- ").append(plan.notices[i]).append("\n");
}

}  // namespace

std::string_view welcome_text() {
  return "A fresh name. Everywhere.\n\nChoose a target, set your replacement, then preview every change here.\n\n"
         "Tarn v0.2  >  Tarnwick v0.2";
}

std::string compose_review_text(const UiState& ui) {
  std::string text;
  if (ui.status) {
    text.append(ui.status->severity == StatusSeverity::Information ? "NOTICE" : "OPERATION STOPPED")
        .append("\n")
        .append(ui.status->message)
        .append("\n\n");
  }
  // The report of files to preserve stays until the next operation, even
  // after the status that first carried it was replaced or dropped.
  if (ui.recovery_report && (!ui.status || ui.status->message != *ui.recovery_report)) {
    text.append("OPERATION STOPPED\n").append(*ui.recovery_report).append("\n\n");
  }
  if (ui.worker.busy()) {
    text += running_text(ui.worker.kind);
  } else if (ui.results) {
    append_results(text, *ui.results);
  } else if (ui.preview) {
    append_preview_page(text, ui);
  } else if (!ui.status && !ui.recovery_report) {
    text += welcome_text();
  }
  return text;
}

}  // namespace tarnwick
