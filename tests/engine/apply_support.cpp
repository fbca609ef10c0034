// Helpers for the apply tests.
#include "engine/apply_support.h"

#include <filesystem>
#include <stdexcept>

namespace tarnwick::testing {

PreviewPlan plan_of(const std::string& target, const std::string& find, const std::string& replacement) {
  OperationRequest request;
  request.target = target;
  request.find = find;
  request.replacement = replacement;
  request.match_case = true;
  request.edit_contents = true;
  PreviewFinished finished = run_preview(std::move(request));
  if (!finished.plan) throw std::runtime_error("preview failed: " + finished.plan.error());
  return std::move(*finished.plan);
}

std::vector<std::string> hidden_files(const TreeSnapshot& snapshot) {
  std::vector<std::string> found;
  for (const auto& [path, entry] : snapshot) {
    if (std::filesystem::path(path).filename().string().starts_with(".tarnwick-")) found.push_back(path);
  }
  return found;
}

TreeSnapshot without_hidden_files(TreeSnapshot snapshot) {
  for (const std::string& path : hidden_files(snapshot)) snapshot.erase(path);
  return snapshot;
}

std::string failure_text(const ApplyFinished& finished) {
  return finished.outcome ? std::string() : finished.outcome.error();
}

}  // namespace tarnwick::testing
