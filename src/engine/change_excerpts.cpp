// The review's excerpts of one planned change, from the bytes its scan record holds.
#include <algorithm>

#include "engine/engine.h"

namespace tarnwick {

namespace {

// The walk records entries depth first with each folder's children in byte
// order of their names: that is the order of their paths compared component
// by component, where the separator sorts before every other byte.
bool precedes_in_walk(std::string_view a, std::string_view b) {
  const auto key = [](char c) { return c == '/' ? 0 : static_cast<unsigned char>(c) + 1; };
  return std::ranges::lexicographical_compare(a, b, {}, key, key);
}

const ScanRecord* record_of(const PreviewPlan& plan, std::string_view path) {
  const auto records = std::ranges::partition_point(
      plan.scan_records, [&](const ScanRecord& record) { return precedes_in_walk(record.original_path, path); });
  if (records == plan.scan_records.end() || records->original_path != path) return nullptr;
  return &*records;
}

}  // namespace

Result<std::vector<ExcerptLine>> compose_change_excerpts(const PreviewPlan& plan, const ChangeEntry& change,
                                                         const OperationRequest& request) {
  if (!change.content_changes) return std::vector<ExcerptLine>{};
  const ScanRecord* record = record_of(plan, change.original_path);
  // Every content change of a walk keeps both; a plan made otherwise shows nothing.
  if (record == nullptr || !record->original_bytes || !record->replacement_bytes) return std::vector<ExcerptLine>{};
  const ContentOptions options{request.encoding, request.resizable_binary ? Resizable::Yes : Resizable::No,
                               request.content_mode};
  return compose_content_excerpts(change.original_path, *record->original_bytes, *record->replacement_bytes,
                                  change.binary_or_resource ? EditedAs::BinaryOrResource : EditedAs::Text,
                                  request.find, replacement_of(request), match_case_of(request), options);
}

}  // namespace tarnwick
