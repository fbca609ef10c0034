// The backup's view of its source: inspection of one entry, the sorted record of
// the whole target, the unchanged checks, and the security comparison of new objects.
#include <algorithm>
#include <cerrno>

#include "backup/backup_internal.h"
#include "common/text.h"

namespace tarnwick {

namespace backup {

namespace {

constexpr long kNanosecondsPerSecond = 1'000'000'000;

// Extended attributes or ACLs present: the backup could not carry them over.
// ERANGE means the list exists (it changed size between the calls); EOPNOTSUPP
// means the filesystem keeps none. Returns the detail text of a failure.
Result<bool> has_extended_attributes(const std::string& path) {
  if (path.find('\0') != std::string::npos) return fail(std::string("NUL in path"));
  const auto size = sys::llistxattr(path);
  if (size) return *size > 0;
  if (size.error() == ERANGE) return true;
  if (size.error() == EOPNOTSUPP) return false;
  return fail(os_error_text(size.error()));
}

Result<bool> descriptor_has_extended_attributes(int fd) {
  const auto size = sys::flistxattr(fd);
  if (size) return *size > 0;
  if (size.error() == ERANGE) return true;
  if (size.error() == EOPNOTSUPP) return false;
  return fail(os_error_text(size.error()));
}

}  // namespace

SnapshotIdentity identity_of(const struct stat& status) {
  SnapshotIdentity identity;
  identity.device = status.st_dev;
  identity.inode = status.st_ino;
  identity.links = status.st_nlink;
  identity.mode = status.st_mode;
  identity.owner = status.st_uid;
  identity.group = status.st_gid;
  identity.size = status.st_size;
  if (status.st_mtim.tv_nsec >= 0 && status.st_mtim.tv_nsec < kNanosecondsPerSecond) {
    identity.modified = ModificationTime{status.st_mtim.tv_sec, status.st_mtim.tv_nsec};
  }
  identity.is_directory = S_ISDIR(status.st_mode);
  identity.read_only = (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  return identity;
}

CreatedIdentity created_identity_of(const struct stat& status) {
  return CreatedIdentity{status.st_dev, status.st_ino, S_ISDIR(status.st_mode)};
}

Result<SnapshotIdentity> inspect_source_entry(const std::string& path) {
  const auto status = sys::lstat(path);
  if (!status) return fail(path_error("Cannot inspect backup source", status.error(), path));
  return inspect_source_entry(path, *status);
}

Result<SnapshotIdentity> inspect_source_entry(const std::string& path, const struct stat& status) {
  const mode_t mode = status.st_mode;
  if (S_ISLNK(mode)) return fail(path_form("Backup refused", "links are not supported", path));
  if (S_ISREG(mode) && status.st_nlink != 1) {
    return fail(path_form("Backup refused", "hardlinked files are not supported", path));
  }
  if (!S_ISREG(mode) && !S_ISDIR(mode)) {
    return fail(path_form("Backup refused", "only ordinary files and directories are supported", path));
  }
  if ((mode & (S_ISUID | S_ISGID)) != 0) {
    return fail(path_form("Cannot preserve backup metadata",
                          "Backup refused: setuid/setgid permissions cannot be preserved safely", path));
  }
  const auto attributes = has_extended_attributes(path);
  if (!attributes) return fail(path_form("Cannot preserve backup metadata", attributes.error(), path));
  if (*attributes) {
    return fail(path_form("Cannot preserve backup metadata",
                          "Backup refused: source has extended attributes or an ACL", path));
  }
  return identity_of(status);
}

Result<std::vector<BackupEntry>> record_source(const std::string& target, const WorkerControl& control) {
  if (target.size() > kMaxPathStorageBytes) return fail("Backup path storage exceeds 16 MiB.");
  std::uint64_t path_storage = target.size();
  std::vector<BackupEntry> record;
  // Not TRY inside the braces: g++ 12 skips the destructor of an already
  // built member when a statement expression returns from an aggregate initializer.
  const SnapshotIdentity target_identity = TRY(inspect_source_entry(target));
  record.push_back(BackupEntry{target, target_identity});
  // Breadth first: the record itself is the queue of folders still to list.
  for (std::size_t next = 0; next < record.size(); ++next) {
    if (!record[next].identity.is_directory) continue;
    const std::string folder = record[next].path;
    auto directory = sys::opendir(folder);
    if (!directory) return fail(path_error("Cannot enumerate complete backup source", directory.error(), folder));
    for (;;) {
      auto listed = directory->next();
      if (!listed) return fail(path_error("Cannot enumerate complete backup source", listed.error(), target));
      if (!listed->has_value()) break;
      TRY(stop_if_cancelled(control));
      if (record.size() >= kMaxEntries) {
        return fail("Complete backup exceeds 50,000 entries; no source files were changed.");
      }
      std::string child = folder + "/";
      child.append((*listed)->name);
      path_storage = saturating_add(path_storage, child.size());
      if (path_storage > kMaxPathStorageBytes) return fail("Complete backup path storage exceeds 16 MiB.");
      SnapshotIdentity identity = TRY(inspect_source_entry(child));
      record.push_back(BackupEntry{std::move(child), identity});
    }
  }
  std::sort(record.begin(), record.end(),
            [](const BackupEntry& a, const BackupEntry& b) { return component_less(a.path, b.path); });
  return record;
}

Result<void> check_source_unchanged(AncestorChecker& checker, const BackupEntry& entry) {
  // The ancestor check's own probe of the entry is the inspection's.
  const struct stat status = TRY(checker.check(entry.path));
  const SnapshotIdentity now = TRY(inspect_source_entry(entry.path, status));
  if (now != entry.identity) {
    return fail(path_form("Backup source changed", "retry with an unchanged selection", entry.path));
  }
  return {};
}

Result<void> check_open_source_unchanged(int fd, const BackupEntry& entry) {
  const auto status = sys::fstat(fd);
  if (!status) return fail(path_error("Cannot verify open backup source", status.error(), entry.path));
  if (identity_of(*status) != entry.identity) {
    return fail(path_form("Open backup source changed", "operation stopped", entry.path));
  }
  return {};
}

Result<sys::UniqueFd> open_source(AncestorChecker& checker, const BackupEntry& entry) {
  TRY(check_source_unchanged(checker, entry));
  // O_NONBLOCK: a file swapped for a fifo since the check must not hang the
  // backup; the descriptor's identity check below then refuses it.
  auto fd = sys::open(entry.path, O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK);
  if (!fd) return fail(path_error("Cannot open complete backup source", fd.error(), entry.path));
  TRY(check_open_source_unchanged(fd->get(), entry));
  return std::move(*fd);
}

Result<mode_t> check_source_security(const std::string& source_path, int new_fd) {
  if (source_path.find('\0') != std::string::npos) return fail(std::string("NUL in path"));
  const auto source = sys::lstat(source_path);
  if (!source) return fail(os_error_text(source.error()));
  const auto created = sys::fstat(new_fd);
  if (!created) return fail(os_error_text(created.error()));
  if ((source->st_mode & (S_ISUID | S_ISGID)) != 0) {
    return fail(std::string("Content editing refused: source has setuid or setgid permissions"));
  }
  if (TRY(has_extended_attributes(source_path))) {
    return fail(std::string("Content editing refused: source has extended attributes or an ACL"));
  }
  if (TRY(descriptor_has_extended_attributes(new_fd))) {
    return fail(std::string("Content editing refused: temporary file inherited extended attributes or an ACL"));
  }
  if (created->st_uid != source->st_uid || created->st_gid != source->st_gid) {
    return fail(std::string("Cannot preserve source owner/group; content editing refused"));
  }
  return source->st_mode & 07777;
}

}  // namespace backup

Result<void> apply_source_security(const std::string& source_path, int new_fd) {
  const mode_t mode = TRY(backup::check_source_security(source_path, new_fd));
  if (const auto changed = sys::fchmod(new_fd, mode); !changed) return fail(os_error_text(changed.error()));
  return {};
}

}  // namespace tarnwick
