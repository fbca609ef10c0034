// The preview worker: validates the request, walks the selected tree and
// plans every new name and content without writing anything.
#include <cerrno>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/fs.h"
#include "common/text.h"
#include "common/utf8.h"
#include "engine/apply_access.h"
#include "engine/engine.h"
#include "engine/limits.h"
#include "engine/name_rules.h"
#include "engine/scan.h"
#include "engine/transaction_names.h"

namespace tarnwick {

namespace {

constexpr std::string_view kNoneExtension = "<none>";

Result<void> validate_literals(const OperationRequest& request) {
  if (request.find.empty()) return fail("Find text cannot be empty.");
  if (request.find.find('\0') != std::string::npos || request.replacement.find('\0') != std::string::npos) {
    return fail("NUL characters are not supported.");
  }
  if (request.find.size() > limits::kMaxLiteralBytes || request.replacement.size() > limits::kMaxLiteralBytes) {
    return fail(std::string(limits::kLiteralTooLong));
  }
  return {};
}

Result<ExtensionFilter> validate_extension_filter(const ExtensionFilter& filter) {
  if (filter.mode == ExtensionFilter::Mode::All) return ExtensionFilter{};
  if (filter.mode == ExtensionFilter::Mode::OnlyListed && filter.extensions.empty()) {
    return fail("Enter at least one extension for Only specified files.");
  }
  ExtensionFilter normalized{filter.mode, {}};
  for (const std::string& entry : filter.extensions) {
    std::string_view piece = trim_unicode_white_space(entry);
    while (piece.starts_with('.')) piece.remove_prefix(1);
    std::string extension(piece);
    lower_ascii_in_place(extension);
    if (extension == kNoneExtension) extension.clear();
    if (extension.find_first_of("/\\:*?") != std::string::npos || contains_unicode_white_space(extension)) {
      return fail("Enter extensions such as .txt, .md or <none>; wildcards and paths are not supported.");
    }
    normalized.extensions.push_back(std::move(extension));
  }
  return normalized;
}

// The text after the last full stop, lower-cased; "" for none, for a name
// that only begins with a full stop, and for bytes that are not UTF-8.
std::string extension_of(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  std::string extension(name.substr(dot + 1));
  if (!is_valid_utf8(extension)) return {};
  lower_ascii_in_place(extension);
  return extension;
}

bool filter_passes(const ExtensionFilter& filter, std::string_view name) {
  if (filter.mode == ExtensionFilter::Mode::All) return true;
  const std::string extension = extension_of(name);
  bool listed = false;
  for (const std::string& entry : filter.extensions) listed = listed || entry == extension;
  return filter.mode == ExtensionFilter::Mode::OnlyListed ? listed : !listed;
}

Result<std::string> resolve_target(const std::string& target) {
  std::string absolute = target;
  if (!target.starts_with('/')) {
    const auto current = sys::getcwd();
    if (!current) return fail(os_error_text(current.error()));
    absolute = join_path(*current, target);
  }
  TRY(probe_path_and_ancestors(absolute));
  const auto canonical = sys::realpath(absolute);
  if (!canonical) return fail("Cannot resolve selected path: " + os_error_text(canonical.error()));
  if (*canonical == "/") return fail("Select a file or a folder below the filesystem root.");
  return *canonical;
}

bool is_version_control_folder(std::string_view name) { return name == ".git" || name == ".svn" || name == ".hg"; }

// Whether a link's stored target, resolved against the link's folder as text
// (".." takes away the last component; no further link is followed), passes
// through one of the renamed paths, the last component included. The folder
// itself is not looked at: a relative link moves along with it.
bool passes_through(std::string_view folder, std::string_view target,
                    const std::unordered_set<std::string_view>& renamed) {
  std::string current = target.starts_with('/') ? std::string() : std::string(folder);  // "" is "/"
  if (current == "/") current.clear();
  while (!target.empty()) {
    const std::size_t slash = target.find('/');
    const std::string_view component = target.substr(0, slash);
    target.remove_prefix(slash == std::string_view::npos ? target.size() : slash + 1);
    if (component.empty() || component == ".") continue;
    if (component == "..") {
      current.resize(current.rfind('/') == std::string::npos ? 0 : current.rfind('/'));
      continue;
    }
    current.append("/").append(component);
    if (renamed.contains(current)) return true;
  }
  return false;
}

class PreviewWalk {
 public:
  PreviewWalk(const OperationRequest& request, ExtensionFilter filter, WorkerControl& control)
      : request_(request),
        control_(control),
        progress_(control.preview),
        filter_(std::move(filter)),
        match_case_(match_case_of(request)),
        replacement_(replacement_of(request)),
        finder_(request.find, match_case_),
        content_options_{request.encoding, request.resizable_binary ? Resizable::Yes : Resizable::No,
                         request.content_mode} {}

  // The journal whose finding refused the walk.
  const std::optional<std::string>& journal() const { return journal_; }

  Result<PreviewPlan> run(std::string target) {
    plan_.target_path = std::move(target);
    // Room for every record the limit allows: untouched capacity costs no
    // memory, while growing by copying would touch the records twice.
    plan_.scan_records.reserve(limits::kMaxEntries);
    pending_bytes_ = plan_.target_path.size();
    stack_.push_back(Pending{&plan_.target_path, 0, std::nullopt});
    while (!stack_.empty()) {
      if (control_.cancel_requested()) return fail(std::string(kPreviewCancelled));
      Pending entry = std::move(stack_.back());
      stack_.pop_back();
      TRY(visit(*entry.path, entry.depth, std::move(entry.status)));
    }
    TRY(finish());
    return std::move(plan_);
  }

 private:
  // A path still to be examined. It points into the folder listing that the
  // parent's record keeps (or at the plan's target path): moving a record
  // moves its listing's vector without moving the strings in its buffer.
  struct Pending {
    const std::string* path;
    std::uint64_t depth;
    // Probed while the parent folder was open; absent for the target. A
    // failure is kept and reported when the entry is taken, in walk order.
    std::optional<sys::SysResult<struct stat>> status;
  };

  // What one entry contributes: its record and, when it changes, its entry.
  struct Visit {
    ScanRecord record;
    std::uint64_t name_matches = 0;
    std::uint64_t content_matches = 0;
    std::optional<std::string> summary;
    bool binary = false;
    bool game_resource = false;
  };

  Result<void> visit(const std::string& path, std::uint64_t depth,
                     std::optional<sys::SysResult<struct stat>> probed) {
    pending_bytes_ -= path.size();
    examined_bytes_ = saturating_add(examined_bytes_, path.size());
    if (examined_bytes_ > limits::kMaxSelectionPathBytes) return fail(std::string(limits::kSelectionPathsTooLarge));
    plan_.items_scanned += 1;
    progress_.entries_scanned.set(plan_.items_scanned);
    if (plan_.items_scanned > limits::kMaxEntries) return fail(std::string(limits::kTooManyEntries));

    if (const auto kind = transaction_kind_of(last_component(path))) {
      // Left by an interrupted apply: a journal means it can still be
      // recovered, and nothing here may be touched before; any other such
      // file is never edited or renamed.
      if (*kind == TransactionKind::Journal) {
        journal_ = path;
        return fail(interrupted_text(path));
      }
      plan_.notices.push_back("Skipped transaction file of an interrupted apply: " + lossy_utf8(path));
      return {};
    }
    const auto status = probed ? std::move(*probed) : sys::lstat(path);
    if (!status) return fail(path_error("Cannot inspect entry", status.error(), path));
    const bool is_folder = S_ISDIR(status->st_mode);
    const bool is_file = S_ISREG(status->st_mode);
    if ((is_file && status->st_nlink > 1) || (!is_file && !is_folder)) {
      if (depth == 0) {
        return fail(path_form("Unsupported selection", "links, hardlinks and special files are skipped", path));
      }
      plan_.notices.push_back("Skipped link or special file: " + lossy_utf8(path));
      if (S_ISLNK(status->st_mode)) skipped_links_.push_back(SkippedLink{path, plan_.notices.size()});
      return {};
    }
    const std::string_view name = last_component(path);
    if (is_folder && depth > 0 && is_version_control_folder(name)) {
      plan_.notices.push_back("Skipped version-control metadata folder: " + lossy_utf8(path));
      return {};
    }

    Visit visit;
    visit.record = ScanRecord{path, path, std::nullopt, std::nullopt, std::nullopt,
                              identity_of(*status), depth};
    if (is_folder || filter_passes(filter_, name)) {
      TRY(plan_name(visit, path));
      if (request_.edit_contents && is_file) TRY(plan_content(visit, path, *status));
    }
    TRY(record_change(visit, *status));
    if (is_folder && request_.include_folder_contents &&
        (!request_.max_depth || depth < *request_.max_depth)) {
      TRY(push_children(visit.record));
    }
    plan_.scan_records.push_back(std::move(visit.record));
    note_collision(plan_.scan_records.size() - 1);
    return {};
  }

  // The collision rule runs after the walk, over the records in walk order,
  // and only its first failure counts. Its map is built here while each path
  // is fresh in cache; what is left for the end is the destination probes of
  // the renamed records before the first collision, and that collision.
  void note_collision(std::size_t index) {
    if (first_collision_) return;
    const ScanRecord& record = plan_.scan_records[index];
    if (const auto holder = collisions_.claim(index);
        holder && plan_.scan_records[*holder].original_path != record.original_path) {
      first_collision_ = std::pair(*holder, index);
    } else if (record.own_renamed_path != record.original_path) {
      renamed_records_.push_back(index);
    }
  }

  Result<void> plan_name(Visit& visit, const std::string& path) {
    const std::string_view name = last_component(path);
    if (!is_valid_utf8(name)) {
      plan_.notices.push_back("Skipped non-Unicode name: " + lossy_utf8(path));
      return {};
    }
    if (!finder_.occurs_in(name)) return {};
    const TextReplacement replaced =
        TRY(replace_literal_text(name, request_.find, replacement_, match_case_, limits::kMaxReplacedNameBytes));
    if (replaced.text == name) return {};
    TRY(check_new_name(replaced.text));
    visit.record.own_renamed_path = join_path(parent_path(path), replaced.text);
    visit.name_matches = replaced.count;
    return {};
  }

  Result<void> plan_content(Visit& visit, const std::string& path, const struct stat& status) {
    const std::uint64_t limit = content_input_limit(request_.content_mode);
    const auto size = static_cast<std::uint64_t>(status.st_size);
    if (size > limit) {
      plan_.notices.push_back("Skipped content larger than " + std::to_string(limit / limits::kMiB) +
                              " MiB in this mode: " + lossy_utf8(path));
      return {};
    }
    // The original alone would exceed the transaction limit: fail before its
    // memory is taken rather than after.
    if (saturating_add(content_bytes_, size) > limits::kMaxContentTransactionBytes) {
      return fail(std::string(limits::kContentTransactionTooLarge));
    }
    std::string bytes = TRY(read_file_bounded(path, limit));
    progress_.content_bytes_read.add(bytes.size());
    auto edit =
        plan_content_edit(path, bytes, request_.find, replacement_, match_case_, content_options_, scratch_);
    if (!edit) return fail(path_form("Cannot prepare content replacement", edit.error(), path));
    std::uint64_t retained = 0;
    const std::uint64_t new_length = edit->new_bytes ? edit->new_bytes->size() : 0;
    if (__builtin_add_overflow(bytes.size(), new_length, &retained) ||
        __builtin_add_overflow(content_bytes_, retained, &content_bytes_)) {
      return fail(std::string(limits::kContentTransactionOverflow));
    }
    if (content_bytes_ > limits::kMaxContentTransactionBytes) {
      return fail(std::string(limits::kContentTransactionTooLarge));
    }
    visit.record.original_bytes = std::move(bytes);
    for (Notice& notice : edit->notices) plan_.notices.push_back(std::move(notice));
    if (edit->new_bytes) {
      visit.record.replacement_bytes = std::move(edit->new_bytes);
      visit.content_matches = edit->match_count;
      visit.summary = std::move(edit->summary);
      visit.binary = edit->binary;
      visit.game_resource = edit->game_resource;
    }
    return {};
  }

  Result<void> record_change(Visit& visit, const struct stat& status) {
    const ScanRecord& record = visit.record;
    const bool name_changes = record.own_renamed_path != record.original_path;
    const bool content_changes = record.replacement_bytes.has_value();
    if (!name_changes && !content_changes) return {};
    if (record.identity.read_only) return fail(read_only_text(record.original_path));
    TRY(access_.check_change(record.original_path, status, content_changes ? ContentChange::Yes : ContentChange::No));
    if (name_changes && record.identity.is_folder) renamed_folders_.emplace(record.original_path, record.own_renamed_path);
    progress_.matches_found.add(visit.name_matches + visit.content_matches);
    plan_.changes.push_back(ChangeEntry{record.original_path, record.own_renamed_path, std::move(visit.summary),
                                        visit.name_matches + visit.content_matches, record.identity.is_folder,
                                        name_changes, content_changes, content_changes && visit.binary,
                                        content_changes && visit.game_resource});
    return {};
  }

  Result<void> push_children(ScanRecord& record) {
    OpenListing listing = TRY(list_open_folder(record.original_path));
    std::vector<std::string>& children = listing.children;
    if (saturating_add(plan_.items_scanned + stack_.size(), children.size()) > limits::kMaxEntries) {
      return fail(std::string(limits::kTooManyEntries));
    }
    std::uint64_t child_bytes = 0;
    for (const std::string& child : children) child_bytes = saturating_add(child_bytes, child.size());
    if (saturating_add(saturating_add(examined_bytes_, pending_bytes_), child_bytes) >
        limits::kMaxSelectionPathBytes) {
      return fail(std::string(limits::kSelectionPathsTooLarge));
    }
    record.folder_listing = std::move(children);
    // Reverse order, so that the smallest child is taken next.
    stack_.reserve(stack_.size() + record.folder_listing->size());
    const int folder_fd = listing.directory.fd();
    // Every child is the folder's path, a separator unless that is "/", and
    // the name, which ends the string: probed by name relative to the folder.
    const std::size_t prefix = record.original_path.size() + (record.original_path.ends_with('/') ? 0 : 1);
    for (auto child = record.folder_listing->rbegin(); child != record.folder_listing->rend(); ++child) {
      stack_.push_back(
          Pending{&*child, record.depth + 1, sys::fstatat(folder_fd, child->c_str() + prefix, AT_SYMLINK_NOFOLLOW)});
    }
    pending_bytes_ += child_bytes;
    return {};
  }

  // The final path rule runs before the destination probe: probing a path of
  // 4096 bytes or more only yields the system's "File name too long", while the
  // rule names the problem and its remedy.
  Result<void> finish() {
    // Each change already holds its own-renamed path, which is final unless
    // a folder above it is renamed too.
    FinalPathBudget budget;
    for (ChangeEntry& change : plan_.changes) {
      if (!renamed_folders_.empty()) {
        change.final_path = join_path(final_path_through(parent_path(change.original_path), renamed_folders_),
                                      last_component(change.final_path));
      }
      TRY(budget.add(change.final_path));
    }
    for (const std::size_t index : renamed_records_) TRY(check_destination(plan_.scan_records[index]));
    if (first_collision_) {
      return fail(collision_text(plan_.scan_records[first_collision_->first], plan_.scan_records[first_collision_->second]));
    }
    return add_link_notices();
  }

  // Each skipped link whose target the renames take away gets a notice right
  // after its own "Skipped link" notice. The plan itself stays as it is.
  Result<void> add_link_notices() {
    std::unordered_set<std::string_view> renamed;
    for (const ChangeEntry& change : plan_.changes) {
      if (change.name_changes) renamed.insert(change.original_path);
    }
    if (renamed.empty()) return {};
    std::vector<std::pair<std::size_t, Notice>> broken;  // (position in the notices, text)
    for (const SkippedLink& link : skipped_links_) {
      const auto target = sys::readlink(link.path);
      if (!target) return fail(path_error("Cannot inspect entry", target.error(), link.path));
      if (passes_through(parent_path(link.path), *target, renamed)) {
        broken.emplace_back(link.notice_end, "Link will no longer resolve after the renames: " +
                                                 lossy_utf8(link.path) + " \u2192 " + lossy_utf8(*target));
      }
    }
    if (broken.empty()) return {};
    std::vector<Notice> notices;
    notices.reserve(plan_.notices.size() + broken.size());
    auto next = broken.begin();
    for (std::size_t index = 0; index <= plan_.notices.size(); ++index) {
      for (; next != broken.end() && next->first == index; ++next) notices.push_back(std::move(next->second));
      if (index < plan_.notices.size()) notices.push_back(std::move(plan_.notices[index]));
    }
    plan_.notices = std::move(notices);
    return {};
  }

  const OperationRequest& request_;
  const WorkerControl& control_;
  PreviewProgress& progress_;
  const ExtensionFilter filter_;
  const MatchCase match_case_;
  const Replacement replacement_;  // with its case forms, made once for every name and file
  const LiteralFinder finder_;  // most names hold no match: they need no replacement
  const ContentOptions content_options_;
  ContentScratch scratch_;  // lent to every file's content plan in turn
  PreviewPlan plan_;
  ApplyAccess access_;
  // Links below the target, each with the end of the notices when its own was added.
  struct SkippedLink {
    std::string path;
    std::size_t notice_end;
  };
  std::vector<SkippedLink> skipped_links_;
  std::vector<Pending> stack_;
  RenameMap renamed_folders_;  // only folders can be ancestors of another entry
  CollisionIndex collisions_{plan_.scan_records};
  std::optional<std::pair<std::size_t, std::size_t>> first_collision_;  // the holder's record, the colliding one
  std::vector<std::size_t> renamed_records_;                           // in walk order, before that collision
  std::optional<std::string> journal_;
  std::uint64_t examined_bytes_ = 0;
  std::uint64_t pending_bytes_ = 0;
  std::uint64_t content_bytes_ = 0;
};

Result<PreviewPlan> plan_preview(const OperationRequest& request, std::optional<std::string>& journal,
                                 WorkerControl& control) {
  TRY(validate_literals(request));
  ExtensionFilter filter = TRY(validate_extension_filter(request.extension_filter));
  std::string target = TRY(resolve_target(request.target));
  journal = TRY(journal_above(target));
  if (journal) return fail(interrupted_text(*journal));
  PreviewWalk walk(request, std::move(filter), control);
  auto plan = walk.run(std::move(target));
  journal = walk.journal();
  return plan;
}

}  // namespace

std::string interrupted_text(const std::string& journal) {
  return path_line("An earlier apply was interrupted here. Recover it before previewing.", journal);
}

// A journal in the target itself or in any folder above it: the interrupted
// apply's target is this one, contains it, or is beside it. A folder this
// user may pass through but not read (or a file target) is passed over: an
// apply of this user could not have left a journal there that Recover could
// find either.
Result<std::optional<std::string>> journal_above(const std::string& target) {
  for (std::string folder = target;; folder = std::string(parent_path(folder))) {
    auto directory = sys::opendir(folder);
    if (!directory && directory.error() != EACCES && directory.error() != ENOTDIR) {
      return fail(path_error("Cannot read folder", directory.error(), folder));
    }
    for (; directory;) {
      const auto entry = directory->next();
      if (!entry) return fail(path_error("Cannot enumerate folder", entry.error(), folder));
      if (!entry->has_value()) break;
      if (transaction_kind_of((*entry)->name) == TransactionKind::Journal) return join_path(folder, (*entry)->name);
    }
    if (folder == "/") return std::nullopt;
  }
}

PreviewFinished run_preview(OperationRequest request, WorkerControl* control) {
  WorkerControl unobserved;
  std::optional<std::string> journal;
  Result<PreviewPlan> plan = plan_preview(request, journal, control != nullptr ? *control : unobserved);
  const bool cancelled = !plan && plan.error() == kPreviewCancelled;
  return PreviewFinished{std::move(request), std::move(plan), std::move(journal), cancelled};
}

}  // namespace tarnwick
