// Runs one preview and apply, or one Recover, in a process of its own for the
// kill tests, which kill it from outside. Given a call number, it stops itself
// (SIGSTOP) right before that filesystem call of the apply or Recover, so the
// test kills it at exactly that instant. It prints "calls {n}" (the calls the
// apply or Recover made) and then the outcome. (Kept out of the test program's
// sources: it has its own main.)
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/fs_testing.h"
#include "engine/engine.h"

namespace {

void stop_before_call(const char* number) {
  tarnwick::sys::testing::install(std::nullopt);
  if (number == nullptr) return;
  tarnwick::sys::testing::on_call(std::strtoull(number, nullptr, 10), [] { ::raise(SIGSTOP); });
}

int report(const tarnwick::Result<std::string>& outcome) {
  std::printf("calls %llu\n", static_cast<unsigned long long>(tarnwick::sys::testing::calls_made()));
  std::fputs(outcome ? outcome->c_str() : outcome.error().c_str(), stdout);
  return outcome ? 0 : 1;
}

int apply(const char* target, const char* find, const char* replacement, const char* stop_at) {
  tarnwick::OperationRequest request;
  request.target = target;
  request.find = find;
  request.replacement = replacement;
  request.match_case = true;
  request.edit_contents = true;
  tarnwick::PreviewFinished preview = tarnwick::run_preview(request);
  if (!preview.plan) return report(tarnwick::fail(std::move(preview.plan.error())));
  stop_before_call(stop_at);
  const tarnwick::ApplyFinished finished = tarnwick::run_apply(std::move(*preview.plan), std::nullopt);
  if (!finished.outcome) return report(tarnwick::fail(finished.outcome.error()));
  return report(finished.outcome->final_target_path);
}

int recover(const char* journal, const char* stop_at) {
  stop_before_call(stop_at);
  const tarnwick::RecoverFinished finished = tarnwick::run_recover(journal);
  if (!finished.outcome) return report(tarnwick::fail(finished.outcome.error()));
  return report(tarnwick::recover_outcome_text(*finished.outcome));
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "apply" && (argc == 5 || argc == 6)) return apply(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : nullptr);
  if (mode == "recover" && (argc == 3 || argc == 4)) return recover(argv[2], argc == 4 ? argv[3] : nullptr);
  std::fputs("usage: apply_kill_driver apply TARGET FIND REPLACEMENT [STOP_BEFORE_CALL]\n"
             "       apply_kill_driver recover JOURNAL [STOP_BEFORE_CALL]\n",
             stderr);
  return 2;
}
