// The apply's own copies of the preview's probes (bounded read, listing,
// identity, collision and destination rule).
#include "engine/apply_scan.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <cerrno>
#include <unordered_map>

#include "common/fs.h"
#include "common/text.h"

namespace tarnwick::apply {

namespace {

constexpr std::size_t kMaxFolderChildren = 50'000;
constexpr std::uint64_t kMaxFolderPathBytes = 16ull << 20;
constexpr std::size_t kReadChunkBytes = 1 << 20;
constexpr long kNanosecondsPerSecond = 1'000'000'000;

// Appends the UTF-8 form of one code point.
void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// The collision key: valid UTF-8 lower-cased, invalid bytes kept as they are,
// so that names differing only in non-UTF-8 bytes stay distinct.
std::string collision_key(const std::string& path) {
  static const locale_t utf8_locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  std::string key;
  key.reserve(path.size());
  std::size_t i = 0;
  while (i < path.size()) {
    const auto lead = static_cast<unsigned char>(path[i]);
    if (lead < 0x80) {
      key.push_back(static_cast<char>(lead >= 'A' && lead <= 'Z' ? lead + 32 : lead));
      ++i;
      continue;
    }
    const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    const std::string_view piece(path.data() + i, std::min<std::size_t>(length, path.size() - i));
    if (lead < 0xC2 || lead > 0xF4 || piece.size() != static_cast<std::size_t>(length) || !is_valid_utf8(piece)) {
      key.push_back(static_cast<char>(lead));
      ++i;
      continue;
    }
    char32_t c = lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(piece[k]) & 0x3F);
    if (utf8_locale != locale_t{}) c = static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), utf8_locale));
    append_utf8(key, c);
    i += length;
  }
  return key;
}

}  // namespace

FileIdentity identity_of(const struct stat& status) {
  FileIdentity identity;
  identity.modified_seconds = status.st_mtim.tv_sec;
  identity.modified_nanoseconds = status.st_mtim.tv_nsec >= kNanosecondsPerSecond || status.st_mtim.tv_nsec < 0
                                      ? kNanosecondsUnavailable
                                      : static_cast<std::int32_t>(status.st_mtim.tv_nsec);
  identity.size = static_cast<std::uint64_t>(status.st_size);
  identity.device = status.st_dev;
  identity.inode = status.st_ino;
  identity.mode = status.st_mode;
  identity.read_only = (status.st_mode & 0222) == 0;
  identity.is_folder = S_ISDIR(status.st_mode);
  return identity;
}

Result<std::string> read_bounded(const std::string& path, std::uint64_t limit) {
  auto file = sys::open(path, O_RDONLY | O_NOFOLLOW);
  if (!file) return fail(path_error("Cannot open file", file.error(), path));
  const auto status = sys::fstat(file->get());
  if (!status) return fail(path_error("Cannot inspect open file", status.error(), path));
  if (!S_ISREG(status->st_mode) || status->st_nlink >= 2) {
    return fail(path_form("File became a link or special file", "create a fresh preview", path));
  }
  std::string bytes;
  const std::uint64_t expected = std::min<std::uint64_t>(static_cast<std::uint64_t>(status->st_size), limit) + 1;
  if (!try_reserve(bytes, expected)) return fail(path_error("Cannot read file", ENOMEM, path));
  for (;;) {
    const std::uint64_t room = saturating_add(limit, 1) - bytes.size();
    if (room == 0) break;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(room, kReadChunkBytes));
    const std::size_t old_size = bytes.size();
    bytes.resize(old_size + want);
    const auto count = sys::read(file->get(), bytes.data() + old_size, want);
    if (!count) return fail(path_error("Cannot read file", count.error(), path));
    bytes.resize(old_size + *count);
    if (*count == 0) break;
  }
  if (bytes.size() > limit) return fail(path_form("File grew beyond the safe size limit", "create a fresh preview", path));
  return bytes;
}

Result<std::vector<std::string>> list_folder(const std::string& folder) {
  auto directory = sys::opendir(folder);
  if (!directory) return fail(path_error("Cannot read folder", directory.error(), folder));
  std::vector<std::string> children;
  std::uint64_t path_bytes = 0;
  const std::string prefix = folder == "/" ? folder : folder + "/";
  for (;;) {
    const auto entry = directory->next();
    if (!entry) return fail(path_error("Cannot enumerate folder", entry.error(), folder));
    if (!entry->has_value()) break;
    if (children.size() >= kMaxFolderChildren) return fail("A folder exceeds 50,000 entries. Narrow the selection.");
    std::string child = prefix + (*entry)->name;
    path_bytes = saturating_add(path_bytes, child.size());
    if (path_bytes > kMaxFolderPathBytes) return fail("Folder path storage exceeds 16 MiB. Narrow the selection.");
    children.push_back(std::move(child));
  }
  std::sort(children.begin(), children.end());  // one folder: byte order of names
  return children;
}

Result<void> check_collisions_and_destinations(const std::vector<ScanRecord>& records) {
  std::unordered_map<std::string, const ScanRecord*> first_by_key;
  first_by_key.reserve(records.size());
  for (const ScanRecord& record : records) {
    const auto [slot, inserted] = first_by_key.try_emplace(collision_key(record.own_renamed_path), &record);
    if (!inserted) {
      if (slot->second->original_path != record.original_path) {
        return fail("Two entries would share the same name: " + lossy_utf8(slot->second->original_path) + " and " +
                    lossy_utf8(record.original_path) + ".");
      }
      slot->second = &record;
    }
    if (record.own_renamed_path == record.original_path) continue;
    const auto probe = sys::lstat(record.own_renamed_path);
    if (probe) return fail(path_form("Rename destination already exists", "nothing has been changed", record.own_renamed_path));
    if (probe.error() != ENOENT) return fail(path_error("Cannot verify destination", probe.error(), record.own_renamed_path));
  }
  return {};
}

}  // namespace tarnwick::apply
