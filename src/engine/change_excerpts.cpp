// The review's excerpts of one planned change, from the bytes its scan record holds.
#include <algorithm>

#include "engine/engine.h"
#include "engine/name_rules.h"

namespace tarnwick {

namespace {

const ScanRecord* record_of(const PreviewPlan& plan, std::string_view path) {
  const auto records = std::ranges::partition_point(
      plan.scan_records, [&](const ScanRecord& record) { return precedes_in_walk(record.original_path, path); });
  if (records == plan.scan_records.end() || records->original_path != path) return nullptr;
  return &*records;
}

}  // namespace

Result<std::vector<ExcerptLine>> compose_change_excerpts(const PreviewPlan& plan, const ChangeEntry& change,
                                                         const OperationRequest& request) {
  if (!change.content_changes || plan.kind == PlanKind::Undo) return std::vector<ExcerptLine>{};
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
