// The folder browser's reads: one folder's entries with their kinds, the sort
// order, and the resolution of a typed path to a folder. Every call goes
// through the filesystem layer, so tests can fail any of them.
#include <sys/stat.h>

#include <algorithm>
#include <utility>

#include "common/fs.h"
#include "common/text.h"
#include "common/unicode_case.h"
#include "native_linux/ui/browser.h"

namespace tarnwick {
namespace {

// A directory stream that keeps failing would otherwise be read forever: the
// listing goes on after a failing read, but not after this many in a row.
constexpr int kMaxConsecutiveReadFailures = 8;

constexpr std::string_view kLimitMessage = "This folder contains more than 50,000 entries. Enter a narrower path.";

struct EntryKind {
  bool is_folder = false;
  bool is_link = false;
};

// The kind from the directory entry, or from fstatat without following links
// when the filesystem does not say.
sys::SysResult<EntryKind> kind_of(const sys::Directory& directory, const sys::Directory::Entry& entry) {
  unsigned char type = entry.type;
  if (type == DT_UNKNOWN) {
    const auto status = sys::fstatat(directory.fd(), std::string(entry.name), AT_SYMLINK_NOFOLLOW);
    if (!status) return std::unexpected(status.error());
    type = S_ISDIR(status->st_mode) ? DT_DIR : S_ISLNK(status->st_mode) ? DT_LNK : DT_REG;
  }
  return EntryKind{type == DT_DIR, type == DT_LNK};
}

// One row's place in the sort: its lower-case key lies in a shared buffer.
struct SortItem {
  std::size_t key_offset = 0;
  std::size_t key_length = 0;
  std::size_t index = 0;
  bool is_folder = false;
};

}  // namespace

void sort_browser_rows(std::vector<BrowserRow>& rows) {
  std::string keys;
  std::string key;
  std::vector<SortItem> items;
  items.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    lower_case_key_into(rows[i].name, key);
    items.push_back(SortItem{keys.size(), key.size(), i, rows[i].is_folder});
    keys += key;
  }
  const std::string_view all_keys = keys;
  // Ties fall back to the listing order, which keeps the sort stable while
  // only small items move. string_view compares bytes as unsigned values.
  std::ranges::sort(items, [all_keys](const SortItem& a, const SortItem& b) {
    if (a.is_folder != b.is_folder) return a.is_folder;
    const int order = all_keys.substr(a.key_offset, a.key_length).compare(all_keys.substr(b.key_offset, b.key_length));
    return order != 0 ? order < 0 : a.index < b.index;
  });
  std::vector<BrowserRow> sorted;
  sorted.reserve(rows.size());
  for (const SortItem& item : items) sorted.push_back(std::move(rows[item.index]));
  rows = std::move(sorted);
}

FolderListing list_folder(const std::string& folder, ListedKinds kinds, HiddenNames hidden) {
  FolderListing listing;
  auto directory = sys::opendir(folder);
  if (!directory) {
    listing.message = os_error_text(directory.error());
    return listing;
  }
  int failures_in_a_row = 0;
  while (true) {
    const auto next = directory->next();
    if (!next) {
      listing.message = os_error_text(next.error());
      if (++failures_in_a_row == kMaxConsecutiveReadFailures) break;
      continue;
    }
    failures_in_a_row = 0;
    if (!*next) break;
    const sys::Directory::Entry& entry = **next;
    if (hidden == HiddenNames::Skip && entry.name.starts_with('.')) continue;
    const auto kind = kind_of(*directory, entry);
    if (!kind) {
      listing.message = os_error_text(kind.error()) + ": " + lossy_utf8(entry.name);
      continue;
    }
    if (kinds == ListedKinds::FoldersOnly && !kind->is_folder) continue;
    // The limit is only reported when a kept entry lies beyond it: a folder
    // of exactly the limit is shown whole, without the message.
    if (listing.rows.size() == kMaxBrowserEntries) {
      listing.message = std::string(kLimitMessage);
      break;
    }
    listing.rows.push_back(BrowserRow{std::string(entry.name), kind->is_folder, kind->is_link});
  }
  sort_browser_rows(listing.rows);
  return listing;
}

std::string parent_text(std::string_view path) {
  while (path.size() > 1 && path.ends_with('/')) path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return path.empty() || path == "." ? "" : ".";
  if (slash == 0) return path.size() > 1 ? "/" : "";
  return std::string(path.substr(0, slash));
}

std::string join_path(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (!path.ends_with('/')) path += '/';
  path += name;
  return path;
}

std::optional<std::string> resolve_folder(std::string_view text, const std::string& base) {
  if (text.empty()) return std::nullopt;
  const std::string absolute = text.starts_with('/') ? std::string(text) : join_path(base, text);
  // Links are resolved here, so the folder the browser shows (and may hand to
  // Use) is never reached through one.
  const auto resolved = sys::realpath(absolute);
  if (!resolved) return std::nullopt;
  const auto status = sys::lstat(*resolved);
  if (!status || !S_ISDIR(status->st_mode)) return std::nullopt;
  return *resolved;
}

}  // namespace tarnwick
