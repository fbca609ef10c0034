// Progress and cancel of one running worker: the worker writes, the UI thread
// reads on every pass of its loop. Each value is one relaxed atomic, read on
// its own: the screen shows a moment's picture, never a torn number.
#pragma once

#include <atomic>
#include <cstdint>

namespace tarnwick {

// A count only its own worker raises. Raising it is a load and a store, not a
// locked read-modify-write: counting per entry or per chunk costs nothing the
// worker would notice.
class ProgressCount {
 public:
  std::uint64_t value() const { return count_.load(std::memory_order_relaxed); }
  void set(std::uint64_t count) { count_.store(count, std::memory_order_relaxed); }
  void add(std::uint64_t amount) {
    std::uint64_t sum = 0;
    if (__builtin_add_overflow(value(), amount, &sum)) sum = UINT64_MAX;
    set(sum);
  }

 private:
  std::atomic<std::uint64_t> count_{0};
};

struct PreviewProgress {
  ProgressCount entries_scanned;     // taken from the walk, skipped ones included
  ProgressCount matches_found;       // literal matches in the names and contents that change
  ProgressCount content_bytes_read;  // of the files read for content editing
};

enum class BackupStage : std::uint8_t {
  Preparing,           // checking the paths and recording the source: no totals yet
  Copying,             // files_copied and bytes_copied rise towards the totals
  Verifying,           // files_verified and bytes_verified rise towards the totals
  Finishing,           // folder permissions, the last check of the source, the final name
  RemovingIncomplete,  // after a failure or a cancel: removing what this backup created
};

struct BackupProgress {
  std::atomic<BackupStage> stage{BackupStage::Preparing};
  // The regular files of the source and their bytes, recorded before the copy:
  // the totals of both the copy and the verification.
  ProgressCount files_total;
  ProgressCount bytes_total;
  ProgressCount files_copied;  // files_ counts are whole files; bytes_ counts rise by 64 KiB chunk
  ProgressCount bytes_copied;
  ProgressCount files_verified;
  ProgressCount bytes_verified;
};

enum class ApplyPhase : std::uint8_t {
  Verifying,           // each examined entry proved unchanged since the preview
  BackingUp,           // no steps of its own: WorkerControl::backup has the counts
  VerifyingAgain,      // the same proof after the backup
  StagingContents,     // each new content written to a hidden file beside its original
  InstallingContents,  // each original moved aside and its new content put in its place
  Renaming,            // deepest first
  CleaningUp,          // the changes made durable, each recovery file removed
  RollingBack,         // after a failure: each rename and each install undone
};

// One consistent reading of an apply's phase and its steps.
struct PhaseProgress {
  ApplyPhase phase = ApplyPhase::Verifying;
  std::uint32_t done = 0;
  std::uint32_t total = 0;  // 0: this phase counts no steps
};

// The phase and its counts share one atomic word, so the screen never reads a
// new phase with the steps of the one before.
class ApplyProgress {
 public:
  static constexpr std::uint32_t kMaxSteps = (1u << 28) - 1;  // an apply has at most 100,000

  PhaseProgress read() const { return unpack(word_.load(std::memory_order_relaxed)); }
  // Worker: a new phase of total steps, none done yet.
  void begin(ApplyPhase phase, std::uint64_t total) {
    const auto steps = static_cast<std::uint32_t>(total < kMaxSteps ? total : kMaxSteps);
    word_.store(pack(PhaseProgress{phase, 0, steps}), std::memory_order_relaxed);
  }
  // Worker: one more step of the phase done (never beyond its total).
  void advance() {
    PhaseProgress now = read();
    if (now.done >= now.total) return;
    ++now.done;
    word_.store(pack(now), std::memory_order_relaxed);
  }

 private:
  static std::uint64_t pack(const PhaseProgress& progress) {
    return (static_cast<std::uint64_t>(progress.phase) << 56) | (static_cast<std::uint64_t>(progress.done) << 28) |
           progress.total;
  }
  static PhaseProgress unpack(std::uint64_t word) {
    return PhaseProgress{static_cast<ApplyPhase>(word >> 56), static_cast<std::uint32_t>((word >> 28) & kMaxSteps),
                         static_cast<std::uint32_t>(word & kMaxSteps)};
  }
  std::atomic<std::uint64_t> word_{0};
};

enum class CancelState : std::uint8_t {
  Possible,          // the worker has changed nothing the user selected; it may still stop
  Requested,         // the user asked; the worker stops at its next check
  NoLongerPossible,  // the apply has begun changing the target: it finishes or rolls back
};

// What the UI thread and one worker share. The UI creates one per worker and
// keeps it alive (for instance in a shared pointer the worker's body holds)
// until the worker's event has arrived or its channel has closed.
class WorkerControl {
 public:
  PreviewProgress preview;
  BackupProgress backup;  // of "Back up now", and of the backup an apply makes first
  ApplyProgress apply;

  // UI thread. True when the worker will stop without changing anything;
  // false once an apply has begun changing the target (the request is then
  // ignored, and the state says why).
  bool request_cancel() {
    CancelState expected = CancelState::Possible;
    return cancel_.compare_exchange_strong(expected, CancelState::Requested) || expected == CancelState::Requested;
  }
  CancelState cancel_state() const { return cancel_.load(std::memory_order_relaxed); }

  // Worker: checked between entries and between copy chunks.
  bool cancel_requested() const { return cancel_state() == CancelState::Requested; }
  // Worker, right before its first change: from now on a request is refused.
  // False when a request came first: the worker must stop as cancelled instead.
  // One exchange decides, so a request either arrives before this or is refused.
  bool stop_accepting_cancel() {
    CancelState expected = CancelState::Possible;
    return cancel_.compare_exchange_strong(expected, CancelState::NoLongerPossible) ||
           expected == CancelState::NoLongerPossible;
  }

 private:
  std::atomic<CancelState> cancel_{CancelState::Possible};
};

}  // namespace tarnwick
