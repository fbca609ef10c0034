// Filesystem probes shared by the preview walk and the apply: the bounded file
// read, the sorted folder listing, entry identities and the selection probe.
#include "engine/scan.h"

#include <algorithm>
#include <cerrno>

#include "common/fs.h"
#include "common/memory.h"
#include "common/text.h"
#include "engine/limits.h"
#include "engine/name_rules.h"

namespace tarnwick {

namespace {

constexpr long kNanosecondsPerSecond = 1'000'000'000;
constexpr std::string_view kFreshPreview = "create a fresh preview";

// Reads until end of file or until buffer is full; returns the bytes read.
Result<std::size_t> read_into(int fd, char* buffer, std::size_t size, const std::string& path) {
  std::size_t filled = 0;
  while (filled < size) {
    const auto count = sys::read(fd, buffer + filled, size - filled);
    if (!count) return fail(path_error("Cannot read file", count.error(), path));
    if (*count == 0) break;
    filled += *count;
  }
  return filled;
}

// The order of sibling paths by the bytes of their names. Siblings share the
// folder prefix (its length given) and usually a stem ("document-00017.txt"),
// so each is sorted by the eight bytes after the prefix all names share, read
// as a big-endian number, and only names equal there are compared further.
std::vector<std::uint32_t> byte_order_of_names(const std::vector<std::string>& paths, std::size_t folder_prefix) {
  if (paths.empty()) return {};
  const std::string_view first = paths.front();
  std::size_t shared = first.size();
  for (const std::string& path : paths) {
    const std::size_t limit = std::min(shared, path.size());
    std::size_t same = folder_prefix;
    while (same < limit && path[same] == first[same]) ++same;
    shared = same;
  }
  struct Keyed {
    std::uint64_t key;
    std::uint32_t at;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(paths.size());
  for (std::size_t at = 0; at < paths.size(); ++at) {
    std::uint64_t key = 0;
    for (std::size_t k = 0; k < 8; ++k) {
      const std::size_t byte = shared + k;
      key = (key << 8) | (byte < paths[at].size() ? static_cast<unsigned char>(paths[at][byte]) : 0);
    }
    keyed.push_back(Keyed{key, static_cast<std::uint32_t>(at)});
  }
  // A name ending inside the key reads as zero bytes there, as a NUL it cannot
  // hold would; equal keys then fall back to comparing the rest of the paths.
  std::sort(keyed.begin(), keyed.end(), [&](const Keyed& a, const Keyed& b) {
    if (a.key != b.key) return a.key < b.key;
    return std::string_view(paths[a.at]).substr(shared) < std::string_view(paths[b.at]).substr(shared);
  });
  std::vector<std::uint32_t> order;
  order.reserve(keyed.size());
  for (const Keyed& entry : keyed) order.push_back(entry.at);
  return order;
}

}  // namespace

FileIdentity identity_of(const struct stat& status) {
  FileIdentity identity;
  identity.modified_seconds = status.st_mtim.tv_sec;
  identity.modified_nanoseconds = status.st_mtim.tv_nsec >= 0 && status.st_mtim.tv_nsec < kNanosecondsPerSecond
                                      ? static_cast<std::int32_t>(status.st_mtim.tv_nsec)
                                      : kNanosecondsUnavailable;
  identity.size = static_cast<std::uint64_t>(status.st_size);
  identity.device = status.st_dev;
  identity.inode = status.st_ino;
  identity.mode = status.st_mode;
  identity.read_only = (status.st_mode & 0222) == 0;
  identity.is_folder = S_ISDIR(status.st_mode);
  return identity;
}

namespace {

Result<std::string> read_opened_file(sys::SysResult<sys::UniqueFd> file, const std::string& path,
                                     std::uint64_t limit_bytes) {
  if (!file) return fail(path_error("Cannot open file", file.error(), path));
  const auto status = sys::fstat(file->get());
  if (!status) return fail(path_error("Cannot inspect open file", status.error(), path));
  if (!S_ISREG(status->st_mode) || status->st_nlink >= 2) {
    return fail(path_form("File became a link or special file", kFreshPreview, path));
  }
  // One byte beyond the limit tells a file that grew past it from one that ends there.
  const std::uint64_t wanted = saturating_add(limit_bytes, 1);
  const std::uint64_t expected = std::min<std::uint64_t>(static_cast<std::uint64_t>(status->st_size), limit_bytes);
  std::size_t capacity = static_cast<std::size_t>(expected + 1);
  std::string data;
  Result<std::size_t> filled = 0;
  data.resize_and_overwrite(capacity, [&](char* buffer, std::size_t) {
    advise_huge_pages(buffer, capacity);
    filled = read_into(file->get(), buffer, capacity, path);
    return filled ? *filled : 0;
  });
  TRY(filled);
  // The file grew after it was inspected: keep reading, still bounded.
  while (data.size() == capacity && capacity < wanted) {
    const std::size_t previous = capacity;
    capacity = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, saturating_mul(capacity, 2)));
    data.resize(capacity);
    const std::size_t more = TRY(read_into(file->get(), data.data() + previous, capacity - previous, path));
    data.resize(previous + more);
  }
  if (data.size() > limit_bytes) return fail(path_form("File grew beyond the safe size limit", kFreshPreview, path));
  return data;
}

// O_NONBLOCK: a path that became a fifo since it was probed must not hang the read.
constexpr int kReadFlags = O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;

}  // namespace

Result<std::string> read_file_bounded(const std::string& path, std::uint64_t limit_bytes) {
  return read_opened_file(sys::open(path, kReadFlags), path, limit_bytes);
}

Result<std::string> read_file_bounded_at(int folder_fd, const std::string& name, const std::string& path,
                                         std::uint64_t limit_bytes) {
  return read_opened_file(sys::openat(folder_fd, name, kReadFlags), path, limit_bytes);
}

Result<std::vector<std::string>> list_folder(const std::string& folder) {
  OpenListing listing = TRY(list_open_folder(folder));
  return std::move(listing.children);
}

Result<OpenListing> list_open_folder(const std::string& folder) {
  auto directory = sys::opendir(folder);
  if (!directory) return fail(path_error("Cannot read folder", directory.error(), folder));
  std::vector<std::string> unsorted;
  std::uint64_t path_bytes = 0;
  for (;;) {
    auto entry = directory->next();
    if (!entry) return fail(path_error("Cannot enumerate folder", entry.error(), folder));
    if (!entry->has_value()) break;
    if (unsorted.size() >= limits::kMaxFolderChildren) return fail(std::string(limits::kFolderTooLarge));
    std::string child = join_path(folder, (*entry)->name);
    path_bytes = saturating_add(path_bytes, child.size());
    if (path_bytes > limits::kMaxFolderPathBytes) return fail(std::string(limits::kFolderPathsTooLarge));
    unsorted.push_back(std::move(child));
  }
  std::vector<std::string> children;
  children.reserve(unsorted.size());
  const std::size_t folder_prefix = folder.size() + (folder.ends_with('/') ? 0 : 1);
  for (const std::size_t at : byte_order_of_names(unsorted, folder_prefix)) children.push_back(std::move(unsorted[at]));
  return OpenListing{std::move(*directory), std::move(children)};
}

Result<void> probe_path_and_ancestors(const std::string& absolute_path, std::string_view inspect_lead) {
  // Probe "/a/b/c", "/a/b", "/a", "/" without doubled or trailing separators:
  // a trailing "/" would make the probe follow a link in the last component.
  std::vector<std::string> probes;
  std::string prefix;
  for (std::size_t at = 0; at < absolute_path.size();) {
    const std::size_t slash = absolute_path.find('/', at);
    const std::size_t end = slash == std::string::npos ? absolute_path.size() : slash;
    if (end > at) {
      prefix.push_back('/');
      prefix.append(absolute_path, at, end - at);
      probes.push_back(prefix);
    }
    at = end + 1;
  }
  // Longest first: the target, then its parent, up to the root.
  std::reverse(probes.begin(), probes.end());
  probes.emplace_back("/");
  for (const std::string& path : probes) {
    const auto status = sys::lstat(path);
    if (!status) return fail(path_error(inspect_lead, status.error(), path));
    if (S_ISLNK(status->st_mode)) {
      return fail(path_form("Links and reparse points are not supported", "choose a direct local path", path));
    }
  }
  return {};
}

}  // namespace tarnwick
