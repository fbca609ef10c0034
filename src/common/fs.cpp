// The one thin layer through which the engine and the backup touch the filesystem.
#include "common/fs.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>

#include "common/fs_testing.h"

namespace tarnwick::sys {

namespace {

struct InjectionState {
  std::mutex mutex;
  std::optional<testing::Fault> fault;
  std::uint64_t callback_number = 0;
  std::optional<Call> callback_only;
  std::function<void()> callback;
  std::uint64_t total = 0;
  std::array<std::uint64_t, kCallKinds> per_kind{};
  std::uint64_t fired = 0;
};

std::atomic<bool> injection_active{false};
// Some filesystems leave d_type unknown; tests make any of them do so.
std::atomic<bool> entry_types_hidden{false};

InjectionState& injection() {
  static InjectionState state;
  return state;
}

// Counts the call and decides whether it fails; returns the errno to fail with, or 0.
int injected_error(Call call) {
  if (!injection_active.load(std::memory_order_relaxed)) return 0;
  InjectionState& state = injection();
  std::function<void()> callback;
  int error = 0;
  {
    std::lock_guard lock(state.mutex);
    ++state.total;
    const std::uint64_t kind_count = ++state.per_kind[static_cast<std::size_t>(call)];
    if (state.callback) {
      const std::uint64_t number = state.callback_only ? (*state.callback_only == call ? kind_count : 0)
                                                       : state.total;
      if (number != 0 && number == state.callback_number) callback = std::exchange(state.callback, {});
    }
    if (state.fault) {
      const testing::Fault& fault = *state.fault;
      const bool matches = !fault.only || *fault.only == call;
      const std::uint64_t number = fault.only ? kind_count : state.total;
      if (matches && (number == fault.call_number || (fault.persistent && number > fault.call_number))) {
        error = fault.error;
        ++state.fired;
      }
    }
  }
  // Run outside the lock: a callback may itself go through this layer.
  if (callback) callback();
  return error;
}

template <class T>
SysResult<T> failure(int error) {
  return std::unexpected(error);
}

}  // namespace

const char* call_name(Call call) {
  static constexpr std::array<const char*, kCallKinds> names = {
      "open",  "read",    "write",   "fsync", "fchmod", "lseek",      "lstat",
      "fstat", "fstatat", "statx",   "opendir", "readdir", "rename",  "unlink",
      "rmdir", "mkdir",   "llistxattr", "flistxattr", "realpath", "getcwd",
      "faccessat", "inode_flags", "readlink"};
  return names[static_cast<std::size_t>(call)];
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    reset();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

UniqueFd::~UniqueFd() { reset(); }

void UniqueFd::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

SysResult<UniqueFd> open(const std::string& path, int flags, mode_t mode) {
  return openat(AT_FDCWD, path, flags, mode);
}

SysResult<UniqueFd> openat(int directory_fd, const std::string& name, int flags, mode_t mode) {
  if (const int error = injected_error(Call::Open)) return failure<UniqueFd>(error);
  for (;;) {
    const int fd = ::openat(directory_fd, name.c_str(), flags | O_CLOEXEC, mode);
    if (fd >= 0) return UniqueFd(fd);
    if (errno != EINTR) return failure<UniqueFd>(errno);
  }
}

SysResult<std::size_t> read(int fd, void* buffer, std::size_t size) {
  if (const int error = injected_error(Call::Read)) return failure<std::size_t>(error);
  for (;;) {
    const ssize_t count = ::read(fd, buffer, size);
    if (count >= 0) return static_cast<std::size_t>(count);
    if (errno != EINTR) return failure<std::size_t>(errno);
  }
}

SysResult<std::size_t> write(int fd, const void* buffer, std::size_t size) {
  if (const int error = injected_error(Call::Write)) return failure<std::size_t>(error);
  for (;;) {
    const ssize_t count = ::write(fd, buffer, size);
    if (count >= 0) return static_cast<std::size_t>(count);
    if (errno != EINTR) return failure<std::size_t>(errno);
  }
}

SysResult<void> fsync(int fd) {
  if (const int error = injected_error(Call::Fsync)) return failure<void>(error);
  if (::fsync(fd) != 0) return failure<void>(errno);
  return {};
}

SysResult<void> fchmod(int fd, mode_t mode) {
  if (const int error = injected_error(Call::Fchmod)) return failure<void>(error);
  if (::fchmod(fd, mode) != 0) return failure<void>(errno);
  return {};
}

SysResult<off_t> lseek(int fd, off_t offset, int whence) {
  if (const int error = injected_error(Call::Lseek)) return failure<off_t>(error);
  const off_t position = ::lseek(fd, offset, whence);
  if (position < 0) return failure<off_t>(errno);
  return position;
}

SysResult<struct stat> lstat(const std::string& path) {
  if (const int error = injected_error(Call::Lstat)) return failure<struct stat>(error);
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) return failure<struct stat>(errno);
  return status;
}

SysResult<struct stat> fstat(int fd) {
  if (const int error = injected_error(Call::Fstat)) return failure<struct stat>(error);
  struct stat status {};
  if (::fstat(fd, &status) != 0) return failure<struct stat>(errno);
  return status;
}

SysResult<struct stat> fstatat(int directory_fd, const char* path, int flags) {
  if (const int error = injected_error(Call::Fstatat)) return failure<struct stat>(error);
  struct stat status {};
  if (::fstatat(directory_fd, path, &status, flags) != 0) return failure<struct stat>(errno);
  return status;
}

SysResult<struct stat> fstatat(int directory_fd, const std::string& path, int flags) {
  return fstatat(directory_fd, path.c_str(), flags);
}

SysResult<struct statx> statx(int directory_fd, const std::string& path, int flags, unsigned mask) {
  if (const int error = injected_error(Call::Statx)) return failure<struct statx>(error);
  struct statx status {};
  if (::statx(directory_fd, path.c_str(), flags, mask, &status) != 0) return failure<struct statx>(errno);
  return status;
}

Directory& Directory::operator=(Directory&& other) noexcept {
  if (this != &other) {
    if (stream_ != nullptr) ::closedir(stream_);
    stream_ = std::exchange(other.stream_, nullptr);
  }
  return *this;
}

Directory::~Directory() {
  if (stream_ != nullptr) ::closedir(stream_);
}

int Directory::fd() const { return stream_ == nullptr ? -1 : ::dirfd(stream_); }

SysResult<std::optional<Directory::Entry>> Directory::next() {
  for (;;) {
    if (const int error = injected_error(Call::Readdir)) return failure<std::optional<Entry>>(error);
    errno = 0;
    const struct dirent64* entry = ::readdir64(stream_);
    if (entry == nullptr) {
      if (errno != 0) return failure<std::optional<Entry>>(errno);
      return std::optional<Entry>();
    }
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    const unsigned char type =
        entry_types_hidden.load(std::memory_order_relaxed) ? static_cast<unsigned char>(DT_UNKNOWN) : entry->d_type;
    return std::optional<Entry>(Entry{name, type, entry->d_ino});
  }
}

SysResult<Directory> opendir(const std::string& path) {
  if (const int error = injected_error(Call::Opendir)) return failure<Directory>(error);
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return failure<Directory>(errno);
  DIR* stream = ::fdopendir(fd);
  if (stream == nullptr) {
    const int error = errno;
    ::close(fd);
    return failure<Directory>(error);
  }
  return Directory(stream);
}

SysResult<void> rename_noreplace(const std::string& from, const std::string& to) {
  if (const int error = injected_error(Call::Rename)) return failure<void>(error);
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
    return failure<void>(errno);
  }
  return {};
}

SysResult<void> unlink(const std::string& path) {
  if (const int error = injected_error(Call::Unlink)) return failure<void>(error);
  if (::unlink(path.c_str()) != 0) return failure<void>(errno);
  return {};
}

SysResult<void> rmdir(const std::string& path) {
  if (const int error = injected_error(Call::Rmdir)) return failure<void>(error);
  if (::rmdir(path.c_str()) != 0) return failure<void>(errno);
  return {};
}

SysResult<void> mkdir(const std::string& path, mode_t mode) {
  if (const int error = injected_error(Call::Mkdir)) return failure<void>(error);
  if (::mkdir(path.c_str(), mode) != 0) return failure<void>(errno);
  return {};
}

SysResult<std::size_t> llistxattr(const std::string& path) {
  if (const int error = injected_error(Call::Llistxattr)) return failure<std::size_t>(error);
  const ssize_t size = ::llistxattr(path.c_str(), nullptr, 0);
  if (size < 0) return failure<std::size_t>(errno);
  return static_cast<std::size_t>(size);
}

SysResult<std::size_t> flistxattr(int fd) {
  if (const int error = injected_error(Call::Flistxattr)) return failure<std::size_t>(error);
  const ssize_t size = ::flistxattr(fd, nullptr, 0);
  if (size < 0) return failure<std::size_t>(errno);
  return static_cast<std::size_t>(size);
}

SysResult<std::string> realpath(const std::string& path) {
  if (const int error = injected_error(Call::Realpath)) return failure<std::string>(error);
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return failure<std::string>(errno);
  std::string text(resolved);
  std::free(resolved);
  return text;
}

SysResult<std::string> getcwd() {
  if (const int error = injected_error(Call::Getcwd)) return failure<std::string>(error);
  char* current = ::getcwd(nullptr, 0);
  if (current == nullptr) return failure<std::string>(errno);
  std::string text(current);
  std::free(current);
  return text;
}

SysResult<void> faccessat(int directory_fd, const std::string& path, int mode, int flags) {
  if (const int error = injected_error(Call::Faccessat)) return failure<void>(error);
  if (::faccessat(directory_fd, path.c_str(), mode, flags) != 0) return failure<void>(errno);
  return {};
}

SysResult<unsigned> inode_flags(const std::string& path) {
  if (const int error = injected_error(Call::InodeFlags)) return failure<unsigned>(error);
  constexpr std::uint64_t kBoth = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
  struct statx status {};
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, 0, &status) != 0) return failure<unsigned>(errno);
  if ((status.stx_attributes_mask & kBoth) == kBoth) {
    unsigned flags = 0;
    if ((status.stx_attributes & STATX_ATTR_IMMUTABLE) != 0) flags |= FS_IMMUTABLE_FL;
    if ((status.stx_attributes & STATX_ATTR_APPEND) != 0) flags |= FS_APPEND_FL;
    return flags;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return failure<unsigned>(errno);
  int flags = 0;
  const int asked = ::ioctl(fd, FS_IOC_GETFLAGS, &flags);
  const int error = errno;
  ::close(fd);
  if (asked != 0) return failure<unsigned>(error);
  return static_cast<unsigned>(flags);
}

SysResult<std::string> readlink(const std::string& path) {
  if (const int error = injected_error(Call::Readlink)) return failure<std::string>(error);
  // A link's target is shorter than PATH_MAX on Linux; a full buffer means it grew meanwhile.
  std::string target(PATH_MAX, '\0');
  const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
  if (length < 0) return failure<std::string>(errno);
  if (static_cast<std::size_t>(length) >= target.size()) return failure<std::string>(ENAMETOOLONG);
  target.resize(static_cast<std::size_t>(length));
  return target;
}

namespace testing {

void install(std::optional<Fault> fault) {
  InjectionState& state = injection();
  std::lock_guard lock(state.mutex);
  state.fault = fault;
  state.callback = {};
  state.callback_number = 0;
  state.callback_only.reset();
  state.total = 0;
  state.per_kind.fill(0);
  state.fired = 0;
  injection_active.store(true, std::memory_order_relaxed);
}

void on_call(std::uint64_t call_number, std::function<void()> callback, std::optional<Call> only) {
  InjectionState& state = injection();
  std::lock_guard lock(state.mutex);
  state.callback_number = call_number;
  state.callback = std::move(callback);
  state.callback_only = only;
  injection_active.store(true, std::memory_order_relaxed);
}

void clear() {
  InjectionState& state = injection();
  std::lock_guard lock(state.mutex);
  injection_active.store(false, std::memory_order_relaxed);
  entry_types_hidden.store(false, std::memory_order_relaxed);
  state.fault.reset();
  state.callback = {};
}

void hide_entry_types(bool hidden) { entry_types_hidden.store(hidden, std::memory_order_relaxed); }

std::uint64_t calls_made() {
  InjectionState& state = injection();
  std::lock_guard lock(state.mutex);
  return state.total;
}

std::uint64_t calls_made(Call kind) {
  InjectionState& state = injection();
  std::lock_guard lock(state.mutex);
  return state.per_kind[static_cast<std::size_t>(kind)];
}

std::uint64_t faults_fired() {
  InjectionState& state = injection();
  std::lock_guard lock(state.mutex);
  return state.fired;
}

}  // namespace testing

}  // namespace tarnwick::sys
