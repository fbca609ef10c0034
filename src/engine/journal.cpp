// The transaction journal's text form. One record per line, fields separated by
// single spaces; names and paths escape "%", space and control bytes as %XX, so
// any name a folder can hold survives. The plan part ends with a line that
// counts its lines and carries a checksum of its bytes: a journal without that
// line was cut short before the apply changed anything.
#include "engine/journal.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

#include "engine/name_rules.h"

namespace tarnwick {

namespace {

constexpr std::string_view kHeader = "tarnwick-journal 1";
constexpr std::string_view kDamaged = "the journal is damaged";

std::uint64_t checksum_of(std::string_view bytes) {
  // FNV-1a, 64 bits: a check against torn or altered plans, not against an adversary.
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
  return hash;
}

// "%", space, control bytes and DEL are written as %XX.
constexpr std::array<bool, 256> kEscaped = [] {
  std::array<bool, 256> escaped{};
  for (std::size_t byte = 0; byte <= 0x20; ++byte) escaped[byte] = true;
  escaped['%'] = true;
  escaped[0x7F] = true;
  return escaped;
}();

bool needs_escape(char c) { return kEscaped[static_cast<unsigned char>(c)]; }

void append_escaped(std::string& line, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  // Runs of plain bytes go in whole: a plan names every path it changes, and
  // most names need no escape at all.
  while (!bytes.empty()) {
    const auto plain = std::find_if(bytes.begin(), bytes.end(), needs_escape);
    line.append(bytes.data(), static_cast<std::size_t>(plain - bytes.begin()));
    if (plain == bytes.end()) return;
    const auto byte = static_cast<unsigned char>(*plain);
    const char escaped[3] = {'%', kHex[byte >> 4], kHex[byte & 0xF]};
    line.append(escaped, sizeof escaped);
    bytes.remove_prefix(static_cast<std::size_t>(plain - bytes.begin()) + 1);
  }
}

void append_fields(std::string&) {}

template <class First, class... Rest>
void append_fields(std::string& line, const First& first, const Rest&... rest) {
  line.push_back(' ');
  if constexpr (std::is_convertible_v<First, std::string_view>) {
    append_escaped(line, first);
  } else {
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, first);
    line.append(digits, written.ptr);
  }
  append_fields(line, rest...);
}

// One record appended to text: its kind, each field after a space, a line feed.
template <class... Fields>
void append_record(std::string& text, std::string_view kind, const Fields&... fields) {
  text.append(kind);
  append_fields(text, fields...);
  text.push_back('\n');
}

template <class... Fields>
std::string record(std::string_view kind, const Fields&... fields) {
  std::string line;
  append_record(line, kind, fields...);
  return line;
}

std::string identity_line(std::string_view kind, std::size_t index, const FileIdentity& identity) {
  return record(kind, index, identity.device, identity.inode, identity.size, identity.modified_seconds,
                identity.modified_nanoseconds, identity.mode);
}

// --- Reading ---------------------------------------------------------------

class Fields {
 public:
  explicit Fields(std::string_view line) : rest_(line) {}

  std::string_view word() {
    const std::size_t space = rest_.find(' ');
    const std::string_view taken = rest_.substr(0, space);
    rest_ = space == std::string_view::npos ? std::string_view() : rest_.substr(space + 1);
    ok_ = ok_ && !taken.empty();
    return taken;
  }

  template <class Number>
  Number number() {
    const std::string_view text = word();
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    ok_ = ok_ && error == std::errc() && end == text.data() + text.size();
    return value;
  }

  std::string text() {
    const std::string_view escaped = word();
    std::string bytes;
    bytes.reserve(escaped.size());
    for (std::size_t at = 0; at < escaped.size(); ++at) {
      if (escaped[at] != '%') {
        bytes.push_back(escaped[at]);
        continue;
      }
      unsigned value = 0;
      const char* first = escaped.data() + at + 1;
      const bool whole = at + 2 < escaped.size() &&
                         std::from_chars(first, first + 2, value, 16).ptr == first + 2;
      ok_ = ok_ && whole;
      if (!whole) return bytes;
      bytes.push_back(static_cast<char>(value));
      at += 2;
    }
    return bytes;
  }

  FileIdentity identity() {
    FileIdentity identity;
    identity.device = number<std::uint64_t>();
    identity.inode = number<std::uint64_t>();
    identity.size = number<std::uint64_t>();
    identity.modified_seconds = number<std::int64_t>();
    identity.modified_nanoseconds = number<std::int32_t>();
    identity.mode = number<std::uint32_t>();
    identity.read_only = (identity.mode & 0222) == 0;
    identity.is_folder = S_ISDIR(identity.mode);
    return identity;
  }

  // Every field was present and well formed, and nothing is left over.
  bool done() const { return ok_ && rest_.empty(); }

 private:
  std::string_view rest_;
  bool ok_ = true;
};

bool read_plan_line(TransactionJournal& journal, std::string_view line) {
  Fields fields(line);
  const std::string_view kind = fields.word();
  if (kind == "target") {
    journal.target = fields.text();
  } else if (kind == "folder") {
    JournalFolder folder;
    folder.device = fields.number<std::uint64_t>();
    folder.inode = fields.number<std::uint64_t>();
    folder.path = fields.text();
    journal.folders.push_back(std::move(folder));
  } else if (kind == "install") {
    JournalInstall install;
    install.original = fields.identity();
    install.replacement_size = fields.number<std::uint64_t>();
    install.stage_name = fields.text();
    install.recovery_name = fields.text();
    install.path = fields.text();
    journal.installs.push_back(std::move(install));
  } else if (kind == "rename") {
    JournalRename rename;
    rename.device = fields.number<std::uint64_t>();
    rename.inode = fields.number<std::uint64_t>();
    rename.is_folder = fields.number<int>() != 0;
    rename.from = fields.text();
    // Only the new name is kept: a rename never leaves its folder.
    const std::string new_name = fields.text();
    if (new_name.empty() || new_name.find('/') != std::string::npos || !rename.from.starts_with('/')) return false;
    rename.to = join_path(parent_path(rename.from), new_name);
    journal.renames.push_back(std::move(rename));
  } else {
    return false;
  }
  return fields.done();
}

// Lines after the plan; a line cut short by the end of the file never gets here.
[[nodiscard]] bool read_progress_line(TransactionJournal& journal, std::string_view line) {
  if (line == "committed") {
    journal.committed = true;
    return true;
  }
  Fields fields(line);
  if (fields.word() != "staged") return false;
  const auto index = fields.number<std::size_t>();
  const FileIdentity staged = fields.identity();
  if (!fields.done() || index >= journal.installs.size()) return false;
  journal.installs[index].staged = staged;
  return true;
}

}  // namespace

std::string journal_plan_text(const TransactionJournal& journal) {
  // Room for every path and name once, with the numbers around them; the
  // text grows only past that.
  std::size_t estimate = 256 + journal.target.size();
  for (const JournalFolder& folder : journal.folders) estimate += 64 + folder.path.size();
  for (const JournalInstall& install : journal.installs) {
    estimate += 160 + install.path.size() + install.stage_name.size() + install.recovery_name.size();
  }
  // The new path's size bounds the new name's.
  for (const JournalRename& rename : journal.renames) estimate += 64 + rename.from.size() + rename.to.size();
  std::string text;
  text.reserve(estimate);
  text.append(kHeader).push_back('\n');
  append_record(text, "target", journal.target);
  for (const JournalFolder& folder : journal.folders) append_record(text, "folder", folder.device, folder.inode, folder.path);
  for (const JournalInstall& install : journal.installs) {
    const FileIdentity& original = install.original;
    append_record(text, "install", original.device, original.inode, original.size, original.modified_seconds,
                  original.modified_nanoseconds, original.mode, install.replacement_size, install.stage_name,
                  install.recovery_name, install.path);
  }
  for (const JournalRename& rename : journal.renames) {
    append_record(text, "rename", rename.device, rename.inode, rename.is_folder ? 1 : 0, rename.from,
                  last_component(rename.to));
  }
  const std::size_t lines = 2 + journal.folders.size() + journal.installs.size() + journal.renames.size();
  char checksum[17];
  std::snprintf(checksum, sizeof checksum, "%016llx", static_cast<unsigned long long>(checksum_of(text)));
  append_record(text, "end", lines, std::string_view(checksum));
  return text;
}

std::string journal_staged_line(std::size_t install, const FileIdentity& staged) {
  return identity_line("staged", install, staged);
}

std::string_view journal_committed_line() { return "committed\n"; }

Result<ReadJournal> parse_journal(std::string_view text) {
  ReadJournal read;
  // Only whole lines count: a last line without its line feed was cut short.
  const std::string_view whole = text.substr(0, text.rfind('\n') + 1);
  const std::size_t end_line = whole.starts_with("end ") ? 0 : whole.find("\nend ");
  if (end_line == std::string_view::npos) {
    // No plan end: the apply stopped while writing its plan, before any change.
    // Anything that claims to come after a plan says otherwise.
    if (whole.find("\nstaged ") != std::string_view::npos || whole.find("\ncommitted\n") != std::string_view::npos) {
      return fail(std::string(kDamaged));
    }
    return read;
  }
  const std::string_view plan = whole.substr(0, end_line + 1);
  const std::size_t after_end = whole.find('\n', end_line + 1);
  Fields end(whole.substr(end_line + 1, after_end - end_line - 1));
  end.word();
  const auto lines = end.number<std::size_t>();
  const std::string_view checksum = end.word();
  char expected[17];
  std::snprintf(expected, sizeof expected, "%016llx", static_cast<unsigned long long>(checksum_of(plan)));
  if (!end.done() || checksum != expected || !plan.starts_with(std::string(kHeader) + "\n")) {
    return fail(std::string(kDamaged));
  }
  std::size_t counted = 1;
  for (std::size_t at = kHeader.size() + 1; at < plan.size(); ++counted) {
    const std::size_t line_end = plan.find('\n', at);
    if (!read_plan_line(read.journal, plan.substr(at, line_end - at))) return fail(std::string(kDamaged));
    at = line_end + 1;
  }
  if (counted != lines) return fail(std::string(kDamaged));
  read.plan_complete = true;
  // A progress line that does not read is passed over: without it Recover
  // recognises less as its own and names more for the user to check, which is
  // the safe side, while the plan itself is intact.
  for (std::size_t at = after_end + 1; at < whole.size();) {
    const std::size_t line_end = whole.find('\n', at);
    (void)read_progress_line(read.journal, whole.substr(at, line_end - at));
    at = line_end + 1;
  }
  return read;
}

}  // namespace tarnwick
