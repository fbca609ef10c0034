// The apply confirmation's text, what Control+C copies from it, and the
// backup-choice lines it shares with the Backups panel.
#include <algorithm>
#include <string>

#include "native_linux/ui/ui_state.h"

namespace tarnwick {
namespace {

constexpr std::string_view kBackupOn = "Before Apply: copy and verify the entire selected file or folder.";
constexpr std::string_view kBackupOff = "Automatic backup is off for this operation.";

void append_last_backup(std::string& text, const UiState& ui) {
  if (ui.last_completed_backup) text.append("\nLast completed backup: ").append(*ui.last_completed_backup);
}

// The confirmation's own backup lines: a destination matters to this apply
// only when it backs up, so with backup off none is named or asked for.
std::string confirmation_backup_text(const UiState& ui) {
  if (ui.back_up_before_apply) return compose_backup_choice_text(ui);
  std::string text(kBackupOff);
  append_last_backup(text, ui);
  return text;
}

// The paragraph on binary content edits: raw binary and game resources are
// each spoken of only when the plan holds such an edit.
std::string binary_paragraph(const UiState& ui, const PreviewPlan& plan) {
  const auto binary = std::ranges::count_if(plan.changes, [](const ChangeEntry& e) { return e.binary_or_resource; });
  const auto resources = std::ranges::count_if(
      plan.changes, [](const ChangeEntry& e) { return e.binary_or_resource && e.game_resource; });
  if (binary == 0) return {};
  const bool raw = binary > resources;
  std::string_view noun = "binary/resource";
  if (resources == 0) noun = "binary";
  if (!raw) noun = "game-resource";
  std::string text = "\n\n";
  text.append(std::to_string(binary)).append(" ").append(noun).append(" files will change.");
  if (raw) {
    text.append(ui.allow_binary_length_changes
                    ? " Raw binary resizing is enabled; raw offsets, checksums and signatures are not repaired."
                    : " Raw binary literals keep their encoded width.");
  }
  if (resources > 0) {
    text.append(
        " Supported game-resource names use their format handler and may change resource allocation sizes. "
        "Review every resource notice; game compatibility needs independent validation.");
  }
  return text;
}

}  // namespace

std::string compose_backup_choice_text(const UiState& ui) {
  std::string text(ui.back_up_before_apply ? kBackupOn : kBackupOff);
  text += "\n";
  const std::string& destination = ui.fields[kFieldBackupDestination];
  if (is_blank(destination)) {
    text += "Choose an existing backup destination folder.";
  } else {
    text.append("Destination: ").append(destination);
  }
  append_last_backup(text, ui);
  return text;
}

std::string compose_backup_details_text(const UiState& ui) {
  std::string text = compose_backup_choice_text(ui);
  if (ui.status) text.append("\n\n").append(ui.status->message);
  return text;
}

std::optional<std::string> compose_confirmation_text(const UiState& ui) {
  if (ui.worker.busy() || !ui.request_snapshot || !ui.preview || ui.preview->changes.empty()) return std::nullopt;
  if (!same_request(*ui.request_snapshot, build_request(ui))) return std::nullopt;
  const PreviewPlan& plan = *ui.preview;
  const auto renames = std::ranges::count_if(plan.changes, [](const ChangeEntry& e) { return e.name_changes; });
  const auto contents = std::ranges::count_if(plan.changes, [](const ChangeEntry& e) { return e.content_changes; });
  std::string text = "Apply the reviewed changes?\n\n";
  text.append(std::to_string(renames))
      .append(" names will change.\n")
      .append(std::to_string(contents))
      .append(" files will have content replaced.")
      .append(binary_paragraph(ui, plan))
      .append("\n\n")
      .append(confirmation_backup_text(ui))
      .append(
          "\nWhen enabled, backup must finish before file changes. A backup error stops Apply.\n"
          "Close editors and sync clients writing to this folder.\n\nPreview notices: ")
      .append(std::to_string(plan.notices.size()))
      .append("\n\nReview the backup choice and every change before applying.");
  return text;
}

std::string compose_confirmation_copy_text(const UiState& ui) {
  const std::optional<std::string> confirmation = compose_confirmation_text(ui);
  std::string text = confirmation.value_or(std::string(kPreviewUnavailable));
  // Only a current preview's notices belong to what would be applied.
  if (confirmation && !ui.preview->notices.empty()) {
    const std::vector<Notice>& notices = ui.preview->notices;
    text.append("\n\nPREVIEW NOTICES (").append(std::to_string(notices.size())).append(")");
    for (const Notice& notice : notices) text.append("\n- ").append(notice);
  }
  if (ui.status) text.append("\n\n").append(ui.status->message);
  return text;
}

}  // namespace tarnwick
