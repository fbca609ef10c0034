// The one thin layer through which the engine and the backup touch the filesystem.
#include "common/fs.h"

#include <linux/fs.h>
#include <linux/openat2.h>
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
#include <vector>

#include "common/fs_testing.h"

namespace tarnwick::sys {

namespace {

// What a call acts on, for the recording tests make; built only while recording.
struct Subject {
  const char* path = nullptr;
  int fd = -1;
  const char* name = nullptr;
};

struct InjectionState {
  std::mutex mutex;
  struct Planned {
    testing::Fault fault;
    std::uint64_t matching = 0;  // calls counted by this fault
  };
  std::vector<Planned> faults;
  std::uint64_t callback_number = 0;
  std::optional<Call> callback_only;
  std::function<void()> callback;
  std::uint64_t total = 0;
  std::array<std::uint64_t, kCallKinds> per_kind{};
  std::uint64_t fired = 0;
  bool recording = false;
  std::vector<testing::RecordedCall> recorded;
};

std::atomic<bool> injection_active{false};
// Some filesystems leave d_type unknown; tests make any of them do so.
std::atomic<bool> entry_types_hidden{false};
std::atomic<bool> component_walk_forced{false};

InjectionState& injection() {
  static InjectionState state;
  return state;
}

std::string describe(const Subject& subject) {
  std::string text;
  if (subject.fd >= 0) {
    char link[PATH_MAX];
    const std::string proc = "/proc/self/fd/" + std::to_string(subject.fd);
    const ssize_t length = ::readlink(proc.c_str(), link, sizeof link);
    text = length > 0 ? std::string(link, static_cast<std::size_t>(length)) : proc;
  } else if (subject.path != nullptr) {
    text = subject.path;
  }
  if (subject.name != nullptr) {
    if (!text.empty() && text.back() != '/') text.push_back('/');
    text.append(subject.name);
  }
  return text;
}

// Counts the call and decides whether it fails; returns the errno to fail with, or 0.
int injected_error(Call call, const Subject& subject) {
  if (!injection_active.load(std::memory_order_relaxed)) return 0;
  InjectionState& state = injection();
  std::function<void()> callback;
  int error = 0;
  {
    std::lock_guard lock(state.mutex);
    ++state.total;
    const std::uint64_t kind_count = ++state.per_kind[static_cast<std::size_t>(call)];
    if (state.recording) state.recorded.push_back(testing::RecordedCall{call, describe(subject)});
    if (state.callback) {
      const std::uint64_t number = state.callback_only ? (*state.callback_only == call ? kind_count : 0)
                                                       : state.total;
      if (number != 0 && number == state.callback_number) callback = std::exchange(state.callback, {});
    }
    for (InjectionState::Planned& planned : state.faults) {
      const testing::Fault& fault = planned.fault;
      if (fault.only && *fault.only != call) continue;
      const std::uint64_t number = ++planned.matching;
      if (error == 0 && (number == fault.call_number || (fault.persistent && number > fault.call_number))) {
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

// Runs one system call through the injection point, again as long as it is
// interrupted by a signal: on Linux an interrupted call has not taken effect.
template <class Attempt>
auto run_call(Call call, const Subject& subject, Attempt attempt) -> decltype(attempt()) {
  for (;;) {
    const int injected = injected_error(call, subject);
    if (injected == EINTR) continue;
    if (injected != 0) return std::unexpected(injected);
    auto result = attempt();
    if (!result && result.error() == EINTR) continue;
    return result;
  }
}

// For calls that return -1 with errno set and 0 on success.
SysResult<void> status_of(int returned) {
  if (returned != 0) return failure<void>(errno);
  return {};
}

SysResult<UniqueFd> fd_of(long returned) {
  if (returned < 0) return failure<UniqueFd>(errno);
  return UniqueFd(static_cast<int>(returned));
}

bool is_link_at(int folder, const std::string& name) {
  struct stat status {};
  return ::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode);
}

// One component opened without following it; a link there fails with ELOOP,
// as openat2 fails (O_PATH with O_NOFOLLOW would open the link itself, which
// then is no folder).
SysResult<UniqueFd> open_component(int folder, const std::string& component, int flags, mode_t mode) {
  SysResult<UniqueFd> opened = fd_of(::openat(folder, component.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode));
  if (!opened && opened.error() == ENOTDIR && is_link_at(folder, component)) return failure<UniqueFd>(ELOOP);
  return opened;
}

// The way without openat2: from "/" one component at a time, each opened
// without following a link. ".." is refused, since it could climb above a
// checked folder.
SysResult<UniqueFd> open_component_by_component(const std::string& path, int flags, mode_t mode) {
  if (!path.starts_with('/')) return failure<UniqueFd>(EINVAL);
  SysResult<UniqueFd> folder = fd_of(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  std::size_t at = 1;
  while (folder) {
    while (at < path.size() && path[at] == '/') ++at;
    const std::size_t end = std::min(path.find('/', at), path.size());
    std::size_t next = end;
    while (next < path.size() && path[next] == '/') ++next;
    const std::string_view piece = std::string_view(path).substr(at, end - at);
    if (piece == "..") return failure<UniqueFd>(EINVAL);
    const std::string component(piece.empty() ? std::string_view(".") : piece);
    if (next >= path.size()) return open_component(folder->get(), component, flags, mode);
    if (component != ".") folder = open_component(folder->get(), component, O_PATH | O_DIRECTORY, 0);
    at = next;
  }
  return folder;
}

}  // namespace

const char* call_name(Call call) {
  static constexpr std::array<const char*, kCallKinds> names = {
      "open",  "read",    "write",   "fsync",   "fchmod",  "lseek",      "lstat",
      "fstat", "fstatat", "statx",   "opendir", "readdir", "rename",     "unlink",
      "rmdir", "mkdir",   "llistxattr", "flistxattr", "realpath", "getcwd", "faccessat",
      "inode_flags", "readlink", "syncfs"};
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
  // close(2) is never retried: Linux releases the descriptor even when interrupted.
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

SysResult<UniqueFd> open(const std::string& path, int flags, mode_t mode) {
  return openat(AT_FDCWD, path, flags, mode);
}

SysResult<UniqueFd> openat(int directory_fd, const std::string& name, int flags, mode_t mode) {
  return run_call(Call::Open, Subject{.fd = directory_fd == AT_FDCWD ? -1 : directory_fd, .name = name.c_str()},
                  [&] { return fd_of(::openat(directory_fd, name.c_str(), flags | O_CLOEXEC, mode)); });
}

SysResult<UniqueFd> open_without_links(const std::string& absolute_path, int flags, mode_t mode) {
  return run_call(Call::Open, Subject{.path = absolute_path.c_str()}, [&]() -> SysResult<UniqueFd> {
    if (!component_walk_forced.load(std::memory_order_relaxed)) {
      struct open_how how {};
      how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
      how.mode = (flags & O_CREAT) != 0 ? mode : 0;
      how.resolve = RESOLVE_NO_SYMLINKS;
      const long fd = ::syscall(SYS_openat2, AT_FDCWD, absolute_path.c_str(), &how, sizeof how);
      // ENOSYS: a kernel before 5.6; EPERM: a sandbox that filters the call.
      if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return fd_of(fd);
    }
    return open_component_by_component(absolute_path, flags, mode);
  });
}

SysResult<std::size_t> read(int fd, void* buffer, std::size_t size) {
  return run_call(Call::Read, Subject{.fd = fd}, [&]() -> SysResult<std::size_t> {
    const ssize_t count = ::read(fd, buffer, size);
    if (count < 0) return failure<std::size_t>(errno);
    return static_cast<std::size_t>(count);
  });
}

SysResult<std::size_t> write(int fd, const void* buffer, std::size_t size) {
  return run_call(Call::Write, Subject{.fd = fd}, [&]() -> SysResult<std::size_t> {
    const ssize_t count = ::write(fd, buffer, size);
    if (count < 0) return failure<std::size_t>(errno);
    return static_cast<std::size_t>(count);
  });
}

SysResult<void> fsync(int fd) {
  return run_call(Call::Fsync, Subject{.fd = fd}, [&] { return status_of(::fsync(fd)); });
}

SysResult<void> syncfs(int fd) {
  return run_call(Call::Syncfs, Subject{.fd = fd}, [&] { return status_of(::syncfs(fd)); });
}

SysResult<void> fchmod(int fd, mode_t mode) {
  return run_call(Call::Fchmod, Subject{.fd = fd}, [&] { return status_of(::fchmod(fd, mode)); });
}

SysResult<off_t> lseek(int fd, off_t offset, int whence) {
  return run_call(Call::Lseek, Subject{.fd = fd}, [&]() -> SysResult<off_t> {
    const off_t position = ::lseek(fd, offset, whence);
    if (position < 0) return failure<off_t>(errno);
    return position;
  });
}

namespace {

template <class Status, class Probe>
SysResult<Status> probe(Call call, const Subject& subject, Probe call_system) {
  return run_call(call, subject, [&]() -> SysResult<Status> {
    Status status {};
    if (call_system(status) != 0) return failure<Status>(errno);
    return status;
  });
}

}  // namespace

SysResult<struct stat> lstat(const std::string& path) {
  return probe<struct stat>(Call::Lstat, Subject{.path = path.c_str()},
                            [&](struct stat& status) { return ::lstat(path.c_str(), &status); });
}

SysResult<struct stat> fstat(int fd) {
  return probe<struct stat>(Call::Fstat, Subject{.fd = fd}, [&](struct stat& status) { return ::fstat(fd, &status); });
}

SysResult<struct stat> fstatat(int directory_fd, const char* path, int flags) {
  return probe<struct stat>(Call::Fstatat,
                            Subject{.fd = directory_fd == AT_FDCWD ? -1 : directory_fd, .name = path},
                            [&](struct stat& status) { return ::fstatat(directory_fd, path, &status, flags); });
}

SysResult<struct stat> fstatat(int directory_fd, const std::string& path, int flags) {
  return fstatat(directory_fd, path.c_str(), flags);
}

SysResult<struct statx> statx(int directory_fd, const std::string& path, int flags, unsigned mask) {
  return probe<struct statx>(
      Call::Statx, Subject{.fd = directory_fd == AT_FDCWD ? -1 : directory_fd, .name = path.c_str()},
      [&](struct statx& status) { return ::statx(directory_fd, path.c_str(), flags, mask, &status); });
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
    const auto entry = run_call(Call::Readdir, Subject{.fd = -1}, [&]() -> SysResult<const struct dirent64*> {
      errno = 0;
      const struct dirent64* read = ::readdir64(stream_);
      if (read == nullptr && errno != 0) return failure<const struct dirent64*>(errno);
      return read;
    });
    if (!entry) return failure<std::optional<Entry>>(entry.error());
    if (*entry == nullptr) return std::optional<Entry>();
    const std::string_view name((*entry)->d_name);
    if (name == "." || name == "..") continue;
    const unsigned char type =
        entry_types_hidden.load(std::memory_order_relaxed) ? static_cast<unsigned char>(DT_UNKNOWN) : (*entry)->d_type;
    return std::optional<Entry>(Entry{name, type, (*entry)->d_ino});
  }
}

SysResult<Directory> opendir(const std::string& path) {
  return run_call(Call::Opendir, Subject{.path = path.c_str()}, [&]() -> SysResult<Directory> {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return failure<Directory>(errno);
    DIR* stream = ::fdopendir(fd);
    if (stream == nullptr) {
      const int error = errno;
      ::close(fd);
      return failure<Directory>(error);
    }
    return Directory(stream);
  });
}

SysResult<void> rename_noreplace(const std::string& from, const std::string& to) {
  return run_call(Call::Rename, Subject{.path = from.c_str()}, [&] {
    return status_of(::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE));
  });
}

SysResult<void> rename_noreplace_at(int from_folder, const std::string& from_name, int to_folder,
                                    const std::string& to_name) {
  return run_call(Call::Rename, Subject{.fd = from_folder, .name = from_name.c_str()}, [&] {
    return status_of(::renameat2(from_folder, from_name.c_str(), to_folder, to_name.c_str(), RENAME_NOREPLACE));
  });
}

SysResult<void> unlink(const std::string& path) {
  return run_call(Call::Unlink, Subject{.path = path.c_str()}, [&] { return status_of(::unlink(path.c_str())); });
}

SysResult<void> unlinkat(int folder, const std::string& name, int flags) {
  return run_call(Call::Unlink, Subject{.fd = folder, .name = name.c_str()},
                  [&] { return status_of(::unlinkat(folder, name.c_str(), flags)); });
}

SysResult<void> rmdir(const std::string& path) {
  return run_call(Call::Rmdir, Subject{.path = path.c_str()}, [&] { return status_of(::rmdir(path.c_str())); });
}

SysResult<void> mkdir(const std::string& path, mode_t mode) {
  return run_call(Call::Mkdir, Subject{.path = path.c_str()},
                  [&] { return status_of(::mkdir(path.c_str(), mode)); });
}

namespace {

SysResult<std::size_t> size_of(ssize_t returned) {
  if (returned < 0) return failure<std::size_t>(errno);
  return static_cast<std::size_t>(returned);
}

// A text a library call allocated with malloc, or the errno it failed with.
SysResult<std::string> text_of(char* allocated) {
  if (allocated == nullptr) return failure<std::string>(errno);
  std::string text(allocated);
  std::free(allocated);
  return text;
}

}  // namespace

SysResult<std::size_t> llistxattr(const std::string& path) {
  return run_call(Call::Llistxattr, Subject{.path = path.c_str()},
                  [&] { return size_of(::llistxattr(path.c_str(), nullptr, 0)); });
}

SysResult<std::size_t> flistxattr(int fd) {
  return run_call(Call::Flistxattr, Subject{.fd = fd}, [&] { return size_of(::flistxattr(fd, nullptr, 0)); });
}

SysResult<std::string> realpath(const std::string& path) {
  return run_call(Call::Realpath, Subject{.path = path.c_str()},
                  [&] { return text_of(::realpath(path.c_str(), nullptr)); });
}

SysResult<std::string> getcwd() {
  return run_call(Call::Getcwd, Subject{}, [&] { return text_of(::getcwd(nullptr, 0)); });
}

SysResult<void> faccessat(int directory_fd, const std::string& path, int mode, int flags) {
  return run_call(Call::Faccessat, Subject{.path = path.c_str(), .fd = directory_fd},
                  [&] { return status_of(::faccessat(directory_fd, path.c_str(), mode, flags)); });
}

namespace {

SysResult<unsigned> inode_flags_once(const std::string& path) {
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

SysResult<std::string> readlink_once(const std::string& path) {
  // A link's target is shorter than PATH_MAX on Linux; a full buffer means it grew meanwhile.
  std::string target(PATH_MAX, '\0');
  const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
  if (length < 0) return failure<std::string>(errno);
  if (static_cast<std::size_t>(length) >= target.size()) return failure<std::string>(ENAMETOOLONG);
  target.resize(static_cast<std::size_t>(length));
  return target;
}

}  // namespace

SysResult<unsigned> inode_flags(const std::string& path) {
  return run_call(Call::InodeFlags, Subject{.path = path.c_str()}, [&] { return inode_flags_once(path); });
}

SysResult<std::string> readlink(const std::string& path) {
  return run_call(Call::Readlink, Subject{.path = path.c_str()}, [&] { return readlink_once(path); });
}

namespace testing {

void install(std::optional<Fault> fault) {
  std::vector<Fault> faults;
  if (fault) faults.push_back(*fault);
  install(std::move(faults));
}

void install(std::vector<Fault> faults) {
  InjectionState& state = injection();
  std::lock_guard lock(state.mutex);
  state.faults.clear();
  for (const Fault& fault : faults) state.faults.push_back(InjectionState::Planned{fault, 0});
  state.callback = {};
  state.callback_number = 0;
  state.callback_only.reset();
  state.total = 0;
  state.per_kind.fill(0);
  state.fired = 0;
  state.recording = false;
  state.recorded.clear();
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
  state.faults.clear();
  state.callback = {};
  state.recording = false;
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

void record_calls() {
  InjectionState& state = injection();
  std::lock_guard lock(state.mutex);
  state.recording = true;
  state.recorded.clear();
  injection_active.store(true, std::memory_order_relaxed);
}

std::vector<RecordedCall> recorded_calls() {
  InjectionState& state = injection();
  std::lock_guard lock(state.mutex);
  return state.recorded;
}

void force_component_walk(bool force) { component_walk_forced.store(force, std::memory_order_relaxed); }

}  // namespace testing

}  // namespace tarnwick::sys
