// Refuses paths that pass through links or through folders another account could write into.
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "backup/backup_internal.h"
#include "common/text.h"

namespace tarnwick {

namespace backup {

namespace {

constexpr std::string_view kUnsafeAncestor =
    "ancestor is owned by another user or is writable by other users without sticky-directory protection";
constexpr std::size_t kAccountBufferStartBytes = 4096;
constexpr std::size_t kAccountBufferMaxBytes = 1 << 20;

// Runs one of the reentrant account look-ups, growing its buffer on ERANGE.
// Returns false when the entry is missing or cannot be read.
template <class Record, class Lookup>
bool look_up(Record& record, std::vector<char>& buffer, Lookup lookup) {
  buffer.resize(kAccountBufferStartBytes);
  for (;;) {
    Record* found = nullptr;
    const int error = lookup(&record, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < kAccountBufferMaxBytes) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    return error == 0 && found != nullptr;
  }
}

}  // namespace

std::string parent_path(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

std::string_view final_component(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool component_less(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (a[i] == b[i]) continue;
    if (a[i] == '/') return true;
    if (b[i] == '/') return false;
    return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
  }
  return a.size() < b.size();
}

bool is_same_or_inside(std::string_view path, std::string_view folder) {
  if (!path.starts_with(folder)) return false;
  if (path.size() == folder.size()) return true;
  return folder.ends_with('/') || path[folder.size()] == '/';
}

// A group-writable folder is writable by nobody else when its group is the
// owner's private group: the owner's primary group, named like the owner, and
// listing no other member. Desktop systems with private groups set umask 002,
// so every folder their users make is group-writable.
bool AncestorChecker::is_private_group(uid_t owner, gid_t group) {
  const auto key = std::pair(owner, group);
  if (const auto known = private_groups_.find(key); known != private_groups_.end()) return known->second;
  bool is_private = false;
  struct passwd user {};
  std::vector<char> user_buffer;
  if (look_up(user, user_buffer, [&](struct passwd* out, char* data, std::size_t size, struct passwd** found) {
        return ::getpwuid_r(owner, out, data, size, found);
      }) &&
      user.pw_gid == group) {
    struct group account_group {};
    std::vector<char> group_buffer;
    if (look_up(account_group, group_buffer,
                [&](struct group* out, char* data, std::size_t size, struct group** found) {
                  return ::getgrgid_r(group, out, data, size, found);
                }) &&
        std::strcmp(account_group.gr_name, user.pw_name) == 0) {
      is_private = true;
      for (char** member = account_group.gr_mem; member != nullptr && *member != nullptr; ++member) {
        if (std::strcmp(*member, user.pw_name) != 0) is_private = false;
      }
    }
  }
  private_groups_.emplace(key, is_private);
  return is_private;
}

Result<struct stat> AncestorChecker::check(const std::string& absolute_path, const FreshProbes& fresh) {
  if (!root_owner_) {
    const auto root = sys::lstat("/");
    if (!root) return fail(path_error("Cannot inspect filesystem root ownership", root.error(), "/"));
    root_owner_ = root->st_uid;
    effective_user_ = ::geteuid();
  }
  const uid_t effective_user = effective_user_;
  std::string path = absolute_path;
  std::optional<struct stat> itself;
  for (;;) {
    const auto known = std::find_if(fresh.begin(), fresh.end(), [&](const FreshProbe& probe) { return probe.path == path; });
    const auto status = known != fresh.end() ? sys::SysResult<struct stat>(known->status) : sys::lstat(path);
    if (!status) return fail(path_error("Cannot inspect backup path", status.error(), path));
    if (!itself) itself = *status;
    if (S_ISLNK(status->st_mode)) return fail(path_form("Backup refused", "links are not supported", path));
    if (S_ISDIR(status->st_mode)) {
      const bool trusted_owner = status->st_uid == effective_user || status->st_uid == *root_owner_;
      const bool sticky = (status->st_mode & S_ISVTX) != 0;
      const bool other_writable = (status->st_mode & S_IWOTH) != 0;
      const bool group_writable = (status->st_mode & S_IWGRP) != 0 &&
                                  !is_private_group(status->st_uid, status->st_gid);
      if (!trusted_owner || (!sticky && (other_writable || group_writable))) {
        return fail(path_form("Backup refused", kUnsafeAncestor, path));
      }
    }
    if (path == "/" || path.find('/') == std::string::npos) return *itself;
    path = parent_path(path);
  }
}

}  // namespace backup

Result<void> check_ancestor_safety(const std::string& path) {
  backup::AncestorChecker checker;
  TRY(checker.check(path));
  return {};
}

}  // namespace tarnwick
