// Filesystem probes shared by the preview walk and the apply: the bounded file
// read, the sorted folder listing, entry identities and the selection probe.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/fs.h"
#include "common/result.h"
#include "engine/engine.h"

namespace tarnwick {

FileIdentity identity_of(const struct stat& status);

// Opens without following links and reads the whole of a regular, single-link
// file of at most limit_bytes; every failure is a path-form text naming the path.
Result<std::string> read_file_bounded(const std::string& path, std::uint64_t limit_bytes);
// The same for the entry name inside an open folder; the texts name path.
Result<std::string> read_file_bounded_at(int folder_fd, const std::string& name, const std::string& path,
                                         std::uint64_t limit_bytes);

// The folder's children as full paths, sorted by bytes, within the folder limits.
Result<std::vector<std::string>> list_folder(const std::string& folder);

// A listing whose folder is still open, so that its children can be probed
// relative to it (one name lookup each instead of one per path component).
struct OpenListing {
  sys::Directory directory;
  std::vector<std::string> children;
};
Result<OpenListing> list_open_folder(const std::string& folder);

// The absolute path and each ancestor up to "/", probed without following
// links: "{inspect_lead}" in the path form, or "Links and reparse points are
// not supported". The lead names what the path is to the user.
inline constexpr std::string_view kInspectSelectedPath = "Cannot inspect selected path";
inline constexpr std::string_view kInspectBackupDestination = "Cannot inspect backup destination";
Result<void> probe_path_and_ancestors(const std::string& absolute_path,
                                      std::string_view inspect_lead = kInspectSelectedPath);

// A journal in the target itself or in any folder above it: an earlier apply
// there was interrupted, and nothing may be planned there before Recover.
Result<std::optional<std::string>> journal_above(const std::string& target);
// "An earlier apply was interrupted here. Recover it before previewing." naming the journal.
std::string interrupted_text(const std::string& journal);

}  // namespace tarnwick
