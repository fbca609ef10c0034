// Runs an action right before every filesystem call from now on, as long as
// faults are installed (fs_testing.h): tests read a worker's progress there,
// as the screen would between two of the worker's steps.
#pragma once

#include <functional>
#include <utility>

#include "common/fs_testing.h"

namespace tarnwick::testing {

class BeforeEveryCall {
 public:
  explicit BeforeEveryCall(std::function<void()> action) : action_(std::move(action)) { arm(); }
  ~BeforeEveryCall() { sys::testing::on_call(0, {}); }
  BeforeEveryCall(const BeforeEveryCall&) = delete;
  BeforeEveryCall& operator=(const BeforeEveryCall&) = delete;

 private:
  // The layer runs one callback, once: each run sets up the next.
  void arm() {
    sys::testing::on_call(sys::testing::calls_made() + 1, [this] {
      action_();
      arm();
    });
  }
  std::function<void()> action_;
};

}  // namespace tarnwick::testing
