// Helpers for the apply tests.
#include "engine/apply_support.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "engine/apply.h"
#include "engine/scan.h"
#include "common/fs.h"

namespace tarnwick::testing {

namespace {

std::uint64_t replace_all(std::string& text, const std::string& find, const std::string& replacement) {
  std::uint64_t count = 0;
  for (std::size_t at = text.find(find); at != std::string::npos; at = text.find(find, at + replacement.size())) {
    text.replace(at, find.size(), replacement);
    ++count;
  }
  return count;
}

}  // namespace

bool content_editing_available() {
  const auto edit = plan_content_edit("probe.txt", "probe", "probe", "p", MatchCase::Exact, ContentOptions{});
  return edit || edit.error().find("not available in this build") == std::string::npos;
}

PreviewPlan plan_of(const std::string& target, const std::string& find, const std::string& replacement) {
  if (content_editing_available()) return preview_plan(target, find, replacement, ContentEditing::On);
  return hand_made_plan(target, find, replacement);
}

PreviewPlan preview_plan(const std::string& target, const std::string& find, const std::string& replacement,
                         ContentEditing contents) {
  OperationRequest request;
  request.target = target;
  request.find = find;
  request.replacement = replacement;
  request.match_case = true;
  request.edit_contents = contents == ContentEditing::On;
  PreviewFinished finished = run_preview(std::move(request));
  if (!finished.plan) throw std::runtime_error("preview failed: " + finished.plan.error());
  return std::move(*finished.plan);
}

PreviewPlan hand_made_plan(const std::string& target, const std::string& find, const std::string& replacement) {
  PreviewPlan plan;
  plan.target_path = target;
  std::vector<std::pair<std::string, std::uint64_t>> stack{{target, 0}};
  std::vector<std::uint64_t> literal_counts;
  while (!stack.empty()) {
    auto [path, depth] = stack.back();
    stack.pop_back();
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) throw std::runtime_error("plan_of: lstat " + path);
    ScanRecord record{path, path, {}, {}, {}, identity_of(status), depth};
    const std::size_t slash = path.rfind('/');
    std::string name = path.substr(slash + 1);
    std::uint64_t literals = replace_all(name, find, replacement);
    if (literals > 0) record.own_renamed_path = path.substr(0, slash + 1) + name;
    if (S_ISREG(status.st_mode)) {
      record.original_bytes = read_file(path);
      std::string content = *record.original_bytes;
      if (const std::uint64_t matches = replace_all(content, find, replacement); matches > 0) {
        literals += matches;
        record.replacement_bytes = std::move(content);
      }
    }
    if (S_ISDIR(status.st_mode)) {
      record.folder_listing = list_folder(path).value();
      for (auto child = record.folder_listing->rbegin(); child != record.folder_listing->rend(); ++child) {
        stack.emplace_back(*child, depth + 1);
      }
    }
    if (literals > 0) {
      plan.changes.push_back(ChangeEntry{path, record.own_renamed_path, std::nullopt, literals,
                                         S_ISDIR(status.st_mode), record.own_renamed_path != path,
                                         record.replacement_bytes.has_value(), false});
    }
    plan.scan_records.push_back(std::move(record));
    ++plan.items_scanned;
  }
  RenameMap map;
  for (const ScanRecord& record : plan.scan_records) {
    if (record.own_renamed_path != record.original_path) map.emplace(record.original_path, record.own_renamed_path);
  }
  for (ChangeEntry& change : plan.changes) change.final_path = final_path_through(change.original_path, map);
  return plan;
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
