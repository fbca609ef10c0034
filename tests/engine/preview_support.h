// Helpers shared by the preview tests: a request with the screen's defaults and plan views.
#pragma once

#include <string>
#include <vector>

#include "engine/engine.h"

namespace tarnwick::testing {

inline OperationRequest preview_request(std::string target, std::string find, std::string replacement = "") {
  OperationRequest request;
  request.target = std::move(target);
  request.find = std::move(find);
  request.replacement = std::move(replacement);
  return request;
}

// Runs the preview and returns the plan, failing the test on a failure text.
inline PreviewPlan preview_ok(const OperationRequest& request) {
  PreviewFinished finished = run_preview(request);
  EXPECT_TRUE(finished.plan.has_value()) << finished.plan.error();
  if (!finished.plan) return {};
  return std::move(*finished.plan);
}

inline std::string preview_error(const OperationRequest& request) {
  PreviewFinished finished = run_preview(request);
  EXPECT_FALSE(finished.plan.has_value());
  return finished.plan ? std::string("(no failure)") : finished.plan.error();
}

// Record paths relative to root, in walk order ("" for root itself).
inline std::vector<std::string> walk_order(const PreviewPlan& plan, const std::string& root) {
  std::vector<std::string> order;
  for (const ScanRecord& record : plan.scan_records) {
    order.push_back(record.original_path == root ? "" : record.original_path.substr(root.size() + 1));
  }
  return order;
}

}  // namespace tarnwick::testing
