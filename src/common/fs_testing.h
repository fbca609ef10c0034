// Fault injection for the filesystem layer: tests fail the Nth call with a
// chosen errno, once or from then on, run a callback just before the Nth call,
// or record the calls made.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/fs.h"

namespace tarnwick::sys::testing {

struct Fault {
  std::uint64_t call_number = 0;     // 1-based, counted among matching calls
  int error = 0;                     // errno the call fails with
  bool persistent = false;           // fail every matching call from then on
  std::optional<Call> only = std::nullopt;  // count only calls of this kind
};

// Installing a plan starts counting from zero; clear() stops counting. Several
// faults may be installed at once; each counts its own matching calls.
void install(std::optional<Fault> fault);
void install(std::vector<Fault> faults);
void on_call(std::uint64_t call_number, std::function<void()> callback,
             std::optional<Call> only = std::nullopt);
void clear();
// Directory entries report DT_UNKNOWN from now on, as on filesystems that do
// not say, so callers take their fstatat path; clear() ends it.
void hide_entry_types(bool hidden);
// Calls made since install() (all kinds), and of one kind.
std::uint64_t calls_made();
std::uint64_t calls_made(Call kind);
// How many calls the installed faults actually failed.
std::uint64_t faults_fired();

// One call as recorded: its kind and what it acted on (the path, or for a call
// on a descriptor the path the descriptor stands for, plus the name for *at calls).
struct RecordedCall {
  Call call;
  std::string subject;
  bool operator==(const RecordedCall&) const = default;
};
// Starts recording every call from now on (until clear()), and returns them.
void record_calls();
std::vector<RecordedCall> recorded_calls();

// Makes open_without_links take its component-by-component way, as on a
// kernel without openat2.
void force_component_walk(bool force);

// Scoped plan, cleared on destruction.
class ScopedFaults {
 public:
  explicit ScopedFaults(std::optional<Fault> fault = std::nullopt) { install(fault); }
  explicit ScopedFaults(std::vector<Fault> faults) { install(std::move(faults)); }
  ~ScopedFaults() { clear(); }
  ScopedFaults(const ScopedFaults&) = delete;
  ScopedFaults& operator=(const ScopedFaults&) = delete;
};

}  // namespace tarnwick::sys::testing
