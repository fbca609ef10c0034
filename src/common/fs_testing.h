// Fault injection for the filesystem layer: tests fail the Nth call with a
// chosen errno, once or from then on, or run a callback just before the Nth call.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "common/fs.h"

namespace tarnwick::sys::testing {

struct Fault {
  std::uint64_t call_number = 0;     // 1-based, counted among matching calls
  int error = 0;                     // errno the call fails with
  bool persistent = false;           // fail every matching call from then on
  std::optional<Call> only = std::nullopt;  // count only calls of this kind
};

// Installing a plan starts counting from zero; clear() stops counting.
void install(std::optional<Fault> fault);
void on_call(std::uint64_t call_number, std::function<void()> callback,
             std::optional<Call> only = std::nullopt);
void clear();
// Directory entries report DT_UNKNOWN from now on, as on filesystems that do
// not say, so callers take their fstatat path; clear() ends it.
void hide_entry_types(bool hidden);
// Calls made since install() (all kinds), and of one kind.
std::uint64_t calls_made();
std::uint64_t calls_made(Call kind);
// How many calls the installed fault actually failed.
std::uint64_t faults_fired();

// Scoped plan, cleared on destruction.
class ScopedFaults {
 public:
  explicit ScopedFaults(std::optional<Fault> fault = std::nullopt) { install(fault); }
  ~ScopedFaults() { clear(); }
  ScopedFaults(const ScopedFaults&) = delete;
  ScopedFaults& operator=(const ScopedFaults&) = delete;
};

}  // namespace tarnwick::sys::testing
