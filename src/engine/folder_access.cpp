// Folders reached without following links and checked against the plan.
#include "engine/folder_access.h"

#include <algorithm>

#include "common/text.h"

namespace tarnwick::apply {

namespace {

// Siblings come in runs (renames deepest first, installs in walk order), so a
// few recent folders save nearly every repeated resolution.
constexpr std::size_t kCachedFolders = 8;

}  // namespace

std::string folder_fault_text(const FolderFault& fault, std::string_view lead, std::string_view subject) {
  if (fault.error != 0) return path_error(lead, fault.error, subject);
  return path_form("Folder identity changed during operation", "operation stopped", fault.folder);
}

FolderResult FolderAccess::reach(const std::string& path, const FolderIdentity& expected) {
  for (auto cached = cache_.begin(); cached != cache_.end(); ++cached) {
    if (cached->path != path || cached->identity != expected) continue;
    const int fd = cached->fd.get();
    std::rotate(cached, cached + 1, cache_.end());
    return fd;
  }
  auto opened = sys::open_without_links(path, O_PATH | O_DIRECTORY);
  if (!opened) return std::unexpected(FolderFault{opened.error(), path});
  const auto status = sys::fstat(opened->get());
  if (!status) return std::unexpected(FolderFault{status.error(), path});
  if (!S_ISDIR(status->st_mode) || FolderIdentity{status->st_dev, status->st_ino} != expected) {
    return std::unexpected(FolderFault{0, path});
  }
  if (cache_.size() >= kCachedFolders) cache_.erase(cache_.begin());
  cache_.push_back(Cached{path, expected, std::move(*opened)});
  return cache_.back().fd.get();
}

}  // namespace tarnwick::apply
