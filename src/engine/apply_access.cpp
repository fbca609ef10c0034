// Access checks of the preview: permissions, mounts and inode attributes as
// the apply will meet them, asked of the system for the effective user.
#include "engine/apply_access.h"

#include <linux/fs.h>
#include <unistd.h>

#include <cerrno>

#include "common/fs.h"
#include "common/text.h"
#include "engine/name_rules.h"

namespace tarnwick {

namespace {

// The system's answers that mean "this user may not": missing permission, a
// read-only mount, an attribute, a file being executed.
bool is_refusal(int error) { return error == EACCES || error == EROFS || error == EPERM || error == ETXTBSY; }

// Immutable entries can be neither renamed nor replaced; append-only ones
// neither, and an append-only folder keeps every name it holds.
constexpr unsigned kBlockingFlags = FS_IMMUTABLE_FL | FS_APPEND_FL;

Result<void> check_attributes(const std::string& path) {
  const auto flags = sys::inode_flags(path);
  if (flags) {
    if ((*flags & kBlockingFlags) != 0) return fail(read_only_text(path));
    return {};
  }
  // A filesystem without such flags has none to block the apply; an entry this
  // user may not open has its flags read by nobody here, and the apply's own
  // failure, should one come, is still rolled back.
  const int error = flags.error();
  if (error == ENOTTY || error == EOPNOTSUPP || error == EINVAL || error == ENOSYS || error == EACCES) return {};
  return fail(path_error("Cannot inspect entry", error, path));
}

Result<void> check_access(const std::string& path, int mode) {
  const auto allowed = sys::faccessat(AT_FDCWD, path, mode, AT_EACCESS);
  if (allowed) return {};
  if (is_refusal(allowed.error())) return fail(read_only_text(path));
  return fail(path_error("Cannot inspect entry", allowed.error(), path));
}

}  // namespace

std::string read_only_text(std::string_view path) {
  return path_form("A matching entry is read-only", "change its permissions or exclude it before previewing", path);
}

Result<void> ApplyAccess::check_change(const std::string& path, const struct stat& status, ContentChange content) {
  const bool sticky = TRY(check_folder(std::string(parent_path(path))));
  // In a sticky folder of someone else only the owner of an entry may rename it.
  if (sticky && status.st_uid != user_) return fail(read_only_text(path));
  TRY(check_attributes(path));
  if (content == ContentChange::Yes) TRY(check_access(path, W_OK));
  return {};
}

Result<bool> ApplyAccess::check_folder(const std::string& folder) {
  if (const auto known = folders_.find(folder); known != folders_.end()) return known->second;
  // Creating the stage file and renaming need write access, and search access to reach the entries.
  TRY(check_access(folder, W_OK | X_OK));
  TRY(check_attributes(folder));
  const auto status = sys::lstat(folder);
  if (!status) return fail(path_error("Cannot inspect entry", status.error(), folder));
  // Root may rename anything in a sticky folder.
  const bool sticky = (status->st_mode & S_ISVTX) != 0 && user_ != 0 && status->st_uid != user_;
  folders_.emplace(folder, sticky);
  return sticky;
}

}  // namespace tarnwick
