// Undo of the last completed apply: the record of what it did, and the plan
// that puts it back once the tree is proved unchanged since.
#include <algorithm>
#include <cerrno>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

#include "common/text.h"
#include "common/unicode_case.h"
#include "common/utf8.h"
#include "common/verify.h"
#include "engine/apply.h"
#include "engine/name_rules.h"
#include "engine/scan.h"

namespace tarnwick {

namespace apply {

UndoRecord take_undo_record(PreviewPlan& plan, const Transaction& transaction) {
  std::unordered_map<std::string_view, const ChangeEntry*> changes;
  for (const ChangeEntry& change : plan.changes) changes.emplace(change.original_path, &change);
  // The folders inside the tree where entries took new names: an undo must
  // find the original names still free there, against their listings.
  std::unordered_set<std::string_view> holding_renames;
  for (const ScanRecord& record : plan.scan_records) {
    if (record.own_renamed_path != record.original_path && record.original_path != plan.target_path) {
      holding_renames.insert(parent_path(record.original_path));
    }
  }
  UndoRecord undo;
  undo.applied_target = transaction.current_target();
  for (ScanRecord& record : plan.scan_records) {
    const auto change = changes.find(record.original_path);
    const bool changed = change != changes.end();
    if (!changed && record.original_path != plan.target_path && !holding_renames.contains(record.original_path)) {
      continue;
    }
    UndoEntry entry;
    entry.applied_path = transaction.current_path(record.original_path);
    entry.original_path = record.original_path;
    entry.depth = record.depth;
    entry.applied_identity = record.identity;
    if (record.replacement_bytes && record.original_bytes) {
      const std::optional<FileIdentity> installed = transaction.installed_identity(record.original_path);
      VERIFY(installed.has_value());
      entry.applied_identity = *installed;
      entry.written_bytes = std::move(record.replacement_bytes);
      entry.original_bytes = std::move(record.original_bytes);
    }
    if (changed) {
      entry.literal_count = change->second->literal_count;
      entry.binary_or_resource = change->second->binary_or_resource;
      entry.game_resource = change->second->game_resource;
    }
    undo.entries.push_back(std::move(entry));
  }
  return undo;
}

}  // namespace apply

namespace {

std::string changed_text(std::string_view path) {
  return "Cannot undo: " + lossy_utf8(path) + " changed after the apply.";
}

bool is_renamed(const UndoEntry& entry) {
  return last_component(entry.applied_path) != last_component(entry.original_path);
}

// Where the undo gives an entry its original name back: beside where it is
// now, since its folder, if renamed too, takes its own name back after it.
std::string restored_path(const UndoEntry& entry) {
  return join_path(parent_path(entry.applied_path), last_component(entry.original_path));
}

// The entry is where and as the apply left it, and an edited file holds every
// byte the apply wrote; the result is its identity now.
Result<FileIdentity> check_entry(const UndoEntry& entry) {
  const std::string& path = entry.applied_path;
  const auto status = sys::lstat(path);
  if (!status) {
    if (status.error() == ENOENT || status.error() == ENOTDIR) return fail(changed_text(path));
    return fail(path_error("Cannot inspect entry", status.error(), path));
  }
  const FileIdentity now = identity_of(*status);
  const FileIdentity& then = entry.applied_identity;
  if (S_ISLNK(status->st_mode) || now.is_folder != then.is_folder) return fail(changed_text(path));
  if (then.is_folder) {
    if (now.device != then.device || now.inode != then.inode) return fail(changed_text(path));
    return now;
  }
  if (!S_ISREG(status->st_mode) || status->st_nlink != 1 || !(now == then)) return fail(changed_text(path));
  if (entry.written_bytes) {
    // Size and times alone could hide a rewrite of the same length.
    const std::string bytes = TRY(read_file_bounded(path, apply::verify_read_limit(*entry.written_bytes)));
    if (bytes != *entry.written_bytes) return fail(changed_text(path));
  }
  return now;
}

Result<void> check_original_name_free(const UndoEntry& entry) {
  const std::string destination = restored_path(entry);
  const auto status = sys::lstat(destination);
  if (status) return fail(changed_text(destination));
  if (status.error() == ENOENT) return {};
  return fail(path_error("Cannot verify destination", status.error(), destination));
}

using RenamedByPath = std::unordered_map<std::string_view, const UndoEntry*>;

// A folder holding renamed entries, listed now: no original name may come
// back beside an entry whose name differs from it only in letter case (the
// names must stay distinct on every filesystem, as the apply's rule demands).
Result<std::vector<std::string>> list_checked_folder(const UndoEntry& folder, const RenamedByPath& renamed) {
  std::vector<std::string> listing = TRY(list_folder(folder.applied_path));
  std::unordered_map<std::string, std::string_view> staying;  // lower-cased name -> path
  std::string key;
  for (const std::string& child : listing) {
    if (renamed.contains(child)) continue;
    lower_case_key_into(last_component(child), key);
    staying.emplace(key, child);
  }
  for (const std::string& child : listing) {
    const auto entry = renamed.find(child);
    if (entry == renamed.end()) continue;
    lower_case_key_into(last_component(entry->second->original_path), key);
    if (const auto clash = staying.find(key); clash != staying.end()) return fail(changed_text(clash->second));
  }
  return listing;
}

// What the checks found, per entry of the record.
struct Found {
  std::vector<FileIdentity> identities;
  std::vector<std::optional<std::vector<std::string>>> listings;
};

Result<Found> check_record(const UndoRecord& record) {
  Found found;
  found.identities.reserve(record.entries.size());
  RenamedByPath renamed;
  std::unordered_set<std::string_view> holding_renames;
  for (const UndoEntry& entry : record.entries) {
    found.identities.push_back(TRY(check_entry(entry)));
    if (!is_renamed(entry)) continue;
    TRY(check_original_name_free(entry));
    renamed.emplace(entry.applied_path, &entry);
    if (entry.applied_path != record.applied_target) holding_renames.insert(parent_path(entry.applied_path));
  }
  found.listings.resize(record.entries.size());
  for (std::size_t index = 0; index < record.entries.size(); ++index) {
    const UndoEntry& entry = record.entries[index];
    if (holding_renames.contains(entry.applied_path)) found.listings[index] = TRY(list_checked_folder(entry, renamed));
  }
  TRY(probe_path_and_ancestors(record.applied_target));
  if (const auto journal = TRY(journal_above(record.applied_target))) return fail(interrupted_text(*journal));
  return found;
}

}  // namespace

Result<PreviewPlan> build_undo_plan(UndoRecord& record) {
  Found found = TRY(check_record(record));
  PreviewPlan plan;
  plan.kind = PlanKind::Undo;
  plan.target_path = record.applied_target;
  plan.items_scanned = record.entries.size();
  // The walk order of the tree as it is now, which the review's look-ups expect.
  std::vector<std::size_t> order(record.entries.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return precedes_in_walk(record.entries[a].applied_path, record.entries[b].applied_path);
  });
  plan.scan_records.reserve(order.size());
  for (const std::size_t index : order) {
    UndoEntry& entry = record.entries[index];
    const bool renamed = is_renamed(entry);
    const bool edited = entry.written_bytes.has_value();
    if (renamed || edited) {
      plan.changes.push_back(ChangeEntry{.original_path = entry.applied_path,
                                         .final_path = entry.original_path,
                                         .content_summary = std::nullopt,
                                         .literal_count = entry.literal_count,
                                         .is_folder = entry.applied_identity.is_folder,
                                         .name_changes = renamed,
                                         .content_changes = edited,
                                         .binary_or_resource = edited && entry.binary_or_resource,
                                         .game_resource = edited && entry.game_resource});
    }
    // What the apply wrote is what must still be there; what it replaced goes back.
    plan.scan_records.push_back(ScanRecord{.original_path = entry.applied_path,
                                           .own_renamed_path = renamed ? restored_path(entry) : entry.applied_path,
                                           .original_bytes = std::move(entry.written_bytes),
                                           .replacement_bytes = std::move(entry.original_bytes),
                                           .folder_listing = std::move(found.listings[index]),
                                           .identity = found.identities[index],
                                           .depth = entry.depth});
  }
  record = UndoRecord{};
  return plan;
}

PreviewFinished run_undo_preview(UndoRecord record, OperationRequest request) {
  Result<PreviewPlan> plan = build_undo_plan(record);
  return PreviewFinished{std::move(request), std::move(plan)};
}

}  // namespace tarnwick
