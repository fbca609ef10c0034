// The one thin layer through which the engine and the backup touch the filesystem.
//
// Every call returns the value or the errno it failed with. A call interrupted
// by a signal (EINTR) has not taken effect on Linux and is retried here, so no
// caller ever sees EINTR. Tests can make any call fail (see fs_testing.h);
// production pays one relaxed atomic load per call.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tarnwick::sys {

template <class T>
using SysResult = std::expected<T, int>;  // the error side is an errno value

enum class Call : std::uint8_t {
  Open,
  Read,
  Write,
  Fsync,
  Fchmod,
  Lseek,
  Lstat,
  Fstat,
  Fstatat,
  Statx,
  Opendir,
  Readdir,
  Rename,
  Unlink,
  Rmdir,
  Mkdir,
  Llistxattr,
  Flistxattr,
  Realpath,
  Getcwd,
  Faccessat,
  InodeFlags,
  Readlink,
  Syncfs,
};
inline constexpr int kCallKinds = 24;
const char* call_name(Call call);

// An owned file descriptor, closed on destruction. Closing is not a fallible
// step of any operation here: data that matters is fsync'ed before.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void reset();

 private:
  int fd_ = -1;
};

// open(2); O_CLOEXEC is always added. Pass O_NOFOLLOW to refuse links, and
// O_CREAT | O_EXCL with mode 0600 for exclusive creation.
SysResult<UniqueFd> open(const std::string& path, int flags, mode_t mode = 0);
SysResult<UniqueFd> openat(int directory_fd, const std::string& name, int flags, mode_t mode = 0);
// Opens an absolute path without following a link in any of its components
// (openat2 with RESOLVE_NO_SYMLINKS, or a walk one component at a time with
// O_NOFOLLOW where the kernel lacks openat2). A link anywhere fails the open.
SysResult<UniqueFd> open_without_links(const std::string& absolute_path, int flags, mode_t mode = 0);
// One read(2); 0 means end of file.
SysResult<std::size_t> read(int fd, void* buffer, std::size_t size);
// One write(2); may write less than asked.
SysResult<std::size_t> write(int fd, const void* buffer, std::size_t size);
// Flushes one file or folder to stable storage.
SysResult<void> fsync(int fd);
// Flushes the whole filesystem holding fd (syncfs(2)); reports write-back errors.
SysResult<void> syncfs(int fd);
SysResult<void> fchmod(int fd, mode_t mode);
SysResult<off_t> lseek(int fd, off_t offset, int whence);

SysResult<struct stat> lstat(const std::string& path);
SysResult<struct stat> fstat(int fd);
SysResult<struct stat> fstatat(int directory_fd, const std::string& path, int flags);
SysResult<struct stat> fstatat(int directory_fd, const char* path, int flags);
SysResult<struct statx> statx(int directory_fd, const std::string& path, int flags, unsigned mask);

// A directory stream (opendir/readdir/closedir). "." and ".." are skipped.
class Directory {
 public:
  struct Entry {
    std::string_view name;  // valid until the next call
    unsigned char type;  // d_type; DT_UNKNOWN when the filesystem does not say
    ino_t inode;
  };
  Directory() = default;
  Directory(Directory&& other) noexcept : stream_(std::exchange(other.stream_, nullptr)) {}
  Directory& operator=(Directory&& other) noexcept;
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  ~Directory();
  // The next entry, std::nullopt at the end, or the errno of a failed readdir.
  SysResult<std::optional<Entry>> next();
  int fd() const;

 private:
  friend SysResult<Directory> opendir(const std::string& path);
  explicit Directory(DIR* stream) : stream_(stream) {}
  DIR* stream_ = nullptr;
};
// Opens with O_NOFOLLOW | O_DIRECTORY, so a link in the last component fails.
SysResult<Directory> opendir(const std::string& path);

// renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE): never replaces.
SysResult<void> rename_noreplace(const std::string& from, const std::string& to);
// The same relative to open folders: names, not paths, so nothing above the
// folders is resolved again.
SysResult<void> rename_noreplace_at(int from_folder, const std::string& from_name, int to_folder,
                                    const std::string& to_name);
SysResult<void> unlink(const std::string& path);
// unlinkat(2) of a name in an open folder (flags 0 or AT_REMOVEDIR).
SysResult<void> unlinkat(int folder, const std::string& name, int flags);
SysResult<void> rmdir(const std::string& path);
SysResult<void> mkdir(const std::string& path, mode_t mode);

// Total size in bytes of the extended-attribute name list (0 = none).
SysResult<std::size_t> llistxattr(const std::string& path);
SysResult<std::size_t> flistxattr(int fd);

SysResult<std::string> realpath(const std::string& path);
SysResult<std::string> getcwd();

// faccessat(2): whether the user may access path in mode (W_OK, X_OK, ...);
// with AT_EACCESS for the effective user and group the program runs as.
SysResult<void> faccessat(int directory_fd, const std::string& path, int mode, int flags);

// The inode flags of the entry at path, link not followed, as FS_IOC_GETFLAGS
// reports them (FS_IMMUTABLE_FL, FS_APPEND_FL, ...). Where statx reports both
// of those two attributes they come from it, without opening the entry;
// otherwise the entry is opened (read-only, non-blocking) for the ioctl, which
// needs read permission (EACCES without) and fails with ENOTTY or EOPNOTSUPP
// on filesystems without such flags.
SysResult<unsigned> inode_flags(const std::string& path);

// The stored target of the symbolic link at path (readlink(2)).
SysResult<std::string> readlink(const std::string& path);

}  // namespace tarnwick::sys
