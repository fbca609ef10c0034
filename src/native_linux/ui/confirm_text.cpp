// The apply confirmation's text and the backup-choice lines it shares with
// the Backups panel.
#include <algorithm>
#include <string>

#include "native_linux/ui/ui_state.h"

namespace tarnwick {

std::string compose_backup_choice_text(const UiState& ui) {
  std::string text = ui.back_up_before_apply ? "Before Apply: copy and verify the entire selected file or folder.\n"
                                             : "Automatic backup is off for this operation.\n";
  const std::string& destination = ui.fields[kFieldBackupDestination];
  if (is_blank(destination)) {
    text += "Choose an existing backup destination folder.";
  } else {
    text.append("Destination: ").append(destination);
  }
  if (ui.last_completed_backup) text.append("\nLast completed backup: ").append(*ui.last_completed_backup);
  return text;
}

std::optional<std::string> compose_confirmation_text(const UiState& ui) {
  if (ui.worker.busy() || !ui.request_snapshot || !ui.preview || ui.preview->changes.empty()) return std::nullopt;
  if (!same_request(*ui.request_snapshot, build_request(ui))) return std::nullopt;
  const PreviewPlan& plan = *ui.preview;
  const auto renames = std::ranges::count_if(plan.changes, [](const ChangeEntry& e) { return e.name_changes; });
  const auto contents = std::ranges::count_if(plan.changes, [](const ChangeEntry& e) { return e.content_changes; });
  const auto binary = std::ranges::count_if(plan.changes, [](const ChangeEntry& e) { return e.binary_or_resource; });
  std::string binary_text;
  if (binary > 0) {
    binary_text.append("\n\n")
        .append(std::to_string(binary))
        .append(" binary/resource files will change. ")
        .append(ui.allow_binary_length_changes
                    ? "Raw binary resizing is enabled; raw offsets, checksums and signatures are not repaired."
                    : "Raw binary literals keep their encoded width.")
        .append(" Supported game-resource names use their format handler and may change resource allocation sizes. "
                "Review every resource notice; game compatibility needs independent validation.");
  }
  std::string text = "Apply the reviewed changes?\n\n";
  text.append(std::to_string(renames))
      .append(" names will change.\n")
      .append(std::to_string(contents))
      .append(" files will have content replaced.")
      .append(binary_text)
      .append("\n\n")
      .append(compose_backup_choice_text(ui))
      .append(
          "\nWhen enabled, backup must finish before file changes. A backup error stops Apply.\n"
          "Close editors and sync clients writing to this folder.\n\nPreview notices: ")
      .append(std::to_string(plan.notices.size()))
      .append("\n\nReview the backup choice and every change before applying.");
  return text;
}

}  // namespace tarnwick
