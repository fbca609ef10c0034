// What the screen shows of a running worker: its progress line and bar, the
// time it has run and whether it may still be cancelled, read from the
// worker's control once per pass of the loop.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/worker_control.h"

namespace tarnwick {

// "12,480": thousands separated by commas.
std::string format_count(std::uint64_t count);
// "1.2 of 3.4 GiB": both sizes in the binary unit of the total, one decimal
// (bytes below 1 KiB as whole bytes).
std::string format_size_pair(std::uint64_t done, std::uint64_t total);
// "1.2 GiB" on its own.
std::string format_size(std::uint64_t bytes);
// "0:07", "12:34", "1:02:03".
std::string format_elapsed(std::int64_t seconds);

enum class WorkerKind : std::uint8_t { Preview, Apply, Backup, Recover };

enum class CancelOffer : std::uint8_t {
  NotOffered,   // this kind of work is never cancelled (Recover)
  Offered,      // nothing selected has changed: Cancel and Escape stop it
  Requested,    // asked; the worker stops at its next check
  Refused,      // the apply has begun changing files (or rolls them back)
};

// One picture of the progress as drawn; the frame is redrawn only when it changes.
struct ProgressView {
  std::string line;                         // empty: no counts to show
  std::optional<std::uint16_t> bar_permille;  // the bar, for steps with a total
  CancelOffer cancel = CancelOffer::NotOffered;
  std::int64_t elapsed_seconds = 0;
  friend bool operator==(const ProgressView&, const ProgressView&) = default;
};

// The view of a worker of this kind from its control (none for Recover).
ProgressView read_progress(WorkerKind kind, const WorkerControl* control, std::int64_t elapsed_seconds);

// The sentence beside Cancel for each offer (empty for NotOffered).
std::string_view cancel_offer_text(CancelOffer offer);

}  // namespace tarnwick
