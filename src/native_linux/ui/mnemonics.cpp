// The main screen's Alt chords: which letter activates which control, and the
// enabling rules the controls are drawn with, so a chord can reach only what a
// click could.
#include <algorithm>
#include <array>

#include "common/utf8.h"
#include "native_linux/ui/ui_state.h"

namespace tarnwick {
namespace {

// Each letter occurs in its control's label, whatever the label reads now (the
// content-mode button says "Text only", "Text+bin" or "Binary": n). Free for
// options to come: b, c, d, f, g, h, j, l, q, s, t, v, y, z.
constexpr std::array<Mnemonic, 12> kMainScreenMnemonics{{
    {'w', UiAction::BrowseTarget, 0},
    {'m', UiAction::ToggleMatchCase, 0},
    {'r', UiAction::TogglePreserveCase, 0},
    {'i', UiAction::ToggleIncludeFolderContents, 0},
    {'u', UiAction::ToggleUnlimitedDepth, 0},
    {'e', UiAction::ToggleEditFileContents, 0},
    {'n', UiAction::OpenContentSettings, 0},
    {'a', UiAction::ChooseExtensionFilter, 0},
    {'o', UiAction::ChooseExtensionFilter, 1},
    {'x', UiAction::ChooseExtensionFilter, 2},
    {'p', UiAction::PreviewChanges, 0},
    {'k', UiAction::OpenBackupsPanel, 0},
}};

}  // namespace

bool main_control_enabled(const UiState& ui, UiAction action, std::uint32_t payload) {
  if (ui.worker.busy()) return false;
  switch (action) {
    case UiAction::ToggleUnlimitedDepth:
      return ui.include_folder_contents;
    case UiAction::TogglePreserveCase:
      return !ui.match_case;
    case UiAction::OpenContentSettings:
      return ui.edit_file_contents;
    case UiAction::ChooseExtensionFilter:
      return payload < kExtensionFilterButtons.size();
    case UiAction::PreviewChanges:
      return !ui.include_folder_contents || ui.unlimited_depth || depth_field_valid(ui);
    default:
      return true;
  }
}

bool mnemonics_active(const UiState& ui) { return !ui.worker.busy() && !any_overlay_open(ui); }

std::optional<Mnemonic> mnemonic_for(char letter) {
  const char lower = ascii_lower(letter);
  const auto found = std::ranges::find(kMainScreenMnemonics, lower, &Mnemonic::letter);
  if (found == kMainScreenMnemonics.end()) return std::nullopt;
  return *found;
}

char shown_mnemonic(const UiState& ui, UiAction action, std::uint32_t payload) {
  if (!ui.alt_held || !mnemonics_active(ui)) return 0;
  const auto found = std::ranges::find_if(kMainScreenMnemonics, [&](const Mnemonic& mnemonic) {
    return mnemonic.action == action && mnemonic.payload == payload;
  });
  return found == kMainScreenMnemonics.end() ? 0 : found->letter;
}

bool activate_mnemonic(UiState& ui, char letter, std::int64_t now_ms) {
  const std::optional<Mnemonic> mnemonic = mnemonic_for(letter);
  if (!mnemonic || !mnemonics_active(ui)) return false;
  if (main_control_enabled(ui, mnemonic->action, mnemonic->payload)) {
    dispatch_action(ui, mnemonic->action, mnemonic->payload, now_ms);
  }
  return true;
}

}  // namespace tarnwick
