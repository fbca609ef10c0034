// The progress line of each worker and its phase, its bar, and the numbers in
// it: counts with thousands separators, sizes in binary units, elapsed time.
#include "native_linux/ui/progress.h"

#include <array>

namespace tarnwick {
namespace {

constexpr std::array<std::string_view, 5> kSizeUnits{"B", "KiB", "MiB", "GiB", "TiB"};
constexpr std::uint16_t kPermille = 1000;
using Wide = unsigned __int128;  // sizes times ten or a thousand must not wrap

// Tenths of the unit (1024^unit bytes), rounded half up.
std::uint64_t tenths_in(std::uint64_t bytes, std::size_t unit) {
  const Wide scale = Wide{1} << (10 * unit);
  return static_cast<std::uint64_t>((Wide{bytes} * 10 + scale / 2) / scale);
}

// Whole bytes below 1 KiB, else the largest unit in which the size, rounded
// to tenths, stays below 1024: 1023.96 KiB is shown as 1.0 MiB, not 1024.0 KiB.
std::size_t unit_for(std::uint64_t bytes) {
  if (bytes < 1024) return 0;
  std::size_t unit = 1;
  while (unit + 1 < kSizeUnits.size() && tenths_in(bytes, unit) >= 10240) ++unit;
  return unit;
}

// The size in the unit, without the unit's name. At most four digits stand
// before the point: no separator.
std::string number_in_unit(std::uint64_t bytes, std::size_t unit) {
  if (unit == 0) return std::to_string(bytes);
  const std::uint64_t tenths = tenths_in(bytes, unit);
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

std::optional<std::uint16_t> permille(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return std::nullopt;
  if (done >= total) return kPermille;
  return static_cast<std::uint16_t>(Wide{done} * kPermille / total);
}

struct Counted {
  std::string line;
  std::optional<std::uint16_t> bar;
};

Counted preview_line(const PreviewProgress& progress) {
  std::string line = "Previewing: " + format_count(progress.entries_scanned.value()) + " entries \u00B7 " +
                     format_count(progress.matches_found.value()) + " matches";
  if (const std::uint64_t read = progress.content_bytes_read.value(); read > 0) {
    line += " \u00B7 " + format_size(read) + " read";
  }
  return {std::move(line), std::nullopt};
}

// The copy and the verification share the totals recorded before copying;
// the bar follows the bytes, which take the time.
Counted backup_line(const BackupProgress& progress) {
  const std::uint64_t files_total = progress.files_total.value();
  const std::uint64_t bytes_total = progress.bytes_total.value();
  const auto counted = [&](std::string_view label, std::uint64_t files, std::uint64_t bytes) {
    return Counted{std::string(label) + format_count(files) + " of " + format_count(files_total) + " files \u00B7 " +
                       format_size_pair(bytes, bytes_total),
                   bytes_total > 0 ? permille(bytes, bytes_total) : permille(files, files_total)};
  };
  switch (progress.stage.load(std::memory_order_relaxed)) {
    case BackupStage::Preparing:
      return {"Backing up: recording the target\u2026", std::nullopt};
    case BackupStage::Copying:
      return counted("Backing up: ", progress.files_copied.value(), progress.bytes_copied.value());
    case BackupStage::Verifying:
      return counted("Verifying backup: ", progress.files_verified.value(), progress.bytes_verified.value());
    case BackupStage::Finishing:
      return {"Finishing the backup\u2026", std::nullopt};
    case BackupStage::RemovingIncomplete:
      return {"Removing the incomplete backup\u2026", std::nullopt};
  }
  return {};
}

std::string_view phase_label(ApplyPhase phase) {
  switch (phase) {
    case ApplyPhase::Verifying: return "Verifying";
    case ApplyPhase::BackingUp: return "Backing up";
    case ApplyPhase::VerifyingAgain: return "Verifying again";
    case ApplyPhase::StagingContents: return "Writing new contents";
    case ApplyPhase::InstallingContents: return "Installing contents";
    case ApplyPhase::Renaming: return "Renaming";
    case ApplyPhase::CleaningUp: return "Cleaning up";
    case ApplyPhase::RollingBack: return "Rolling back";
  }
  return {};
}

Counted apply_line(const WorkerControl& control) {
  const PhaseProgress phase = control.apply.read();
  if (phase.phase == ApplyPhase::BackingUp) return backup_line(control.backup);
  const std::string label(phase_label(phase.phase));
  if (phase.total == 0) return {label + "\u2026", std::nullopt};
  return {label + ": " + format_count(phase.done) + " of " + format_count(phase.total), permille(phase.done, phase.total)};
}

CancelOffer offer_of(CancelState state) {
  switch (state) {
    case CancelState::Possible: return CancelOffer::Offered;
    case CancelState::Requested: return CancelOffer::Requested;
    case CancelState::NoLongerPossible: return CancelOffer::Refused;
  }
  return CancelOffer::NotOffered;
}

}  // namespace

std::string format_count(std::uint64_t count) {
  std::string digits = std::to_string(count);
  for (std::size_t at = digits.size(); at > 3;) {
    at -= 3;
    digits.insert(at, 1, ',');
  }
  return digits;
}

std::string format_size(std::uint64_t bytes) {
  const std::size_t unit = unit_for(bytes);
  return number_in_unit(bytes, unit) + " " + std::string(kSizeUnits[unit]);
}

std::string format_size_pair(std::uint64_t done, std::uint64_t total) {
  const std::size_t unit = unit_for(total);
  return number_in_unit(done, unit) + " of " + number_in_unit(total, unit) + " " + std::string(kSizeUnits[unit]);
}

std::string format_elapsed(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const auto two = [](std::int64_t value) {
    std::string digits(value < 10 ? "0" : "");
    return digits.append(std::to_string(value));
  };
  const std::int64_t hours = seconds / 3600;
  const std::int64_t minutes = seconds / 60 % 60;
  if (hours > 0) return std::to_string(hours) + ":" + two(minutes) + ":" + two(seconds % 60);
  return std::to_string(minutes) + ":" + two(seconds % 60);
}

ProgressView read_progress(WorkerKind kind, const WorkerControl* control, std::int64_t elapsed_seconds) {
  ProgressView view;
  view.elapsed_seconds = elapsed_seconds;
  if (control == nullptr || kind == WorkerKind::Recover) return view;
  Counted counted;
  switch (kind) {
    case WorkerKind::Preview:
      counted = preview_line(control->preview);
      break;
    case WorkerKind::Backup:
      counted = backup_line(control->backup);
      break;
    case WorkerKind::Apply:
      counted = apply_line(*control);
      break;
    case WorkerKind::Recover:
      break;
  }
  view.line = std::move(counted.line);
  view.bar_permille = counted.bar;
  view.cancel = offer_of(control->cancel_state());
  // A rollback undoes changes already made: it is never cancelled, whatever
  // the state says.
  if (kind == WorkerKind::Apply && control->apply.read().phase == ApplyPhase::RollingBack) {
    view.cancel = CancelOffer::Refused;
  }
  return view;
}

std::string_view cancel_offer_text(CancelOffer offer) {
  switch (offer) {
    case CancelOffer::NotOffered: return {};
    case CancelOffer::Offered: return "Your files are unchanged. Escape also cancels.";
    case CancelOffer::Requested: return "Cancelling\u2026 waiting for the work to stop.";
    case CancelOffer::Refused: return "Cancel is no longer possible: files are being changed.";
  }
  return {};
}

}  // namespace tarnwick
