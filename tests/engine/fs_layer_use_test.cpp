// The engine, the backup and the screens (the folder browser reads folders)
// touch the filesystem only through src/common/fs.h: no raw system call of the
// layer's kind may appear in their sources.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <cctype>
#include <fstream>
#include <set>
#include <sstream>

namespace tarnwick {
namespace {

// Drops // comments, /* */ comments and string literals, which may name calls freely.
std::string code_only(const std::string& source) {
  std::string code;
  code.reserve(source.size());
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (source.compare(i, 2, "//") == 0) {
      i = source.find('\n', i);
      if (i == std::string::npos) break;
      code.push_back('\n');
    } else if (source.compare(i, 2, "/*") == 0) {
      i = source.find("*/", i + 2);
      if (i == std::string::npos) break;
      ++i;
    } else if (source[i] == '\'' && i + 2 < source.size() && source[i + 2] == '\'') {
      code.append("''");  // a character literal such as '"'
      i += 2;
    } else if (source[i] == '\'' && i + 3 < source.size() && source[i + 1] == '\\' && source[i + 3] == '\'') {
      code.append("''");
      i += 3;
    } else if (source[i] == '"') {
      for (++i; i < source.size() && source[i] != '"'; ++i) {
        if (source[i] == '\\') ++i;
      }
      code.append("\"\"");
    } else {
      code.push_back(source[i]);
    }
  }
  return code;
}

bool is_identifier_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

// A call is the bare or "::"-qualified name followed by "(", not reached
// through "sys::", a member access or a longer identifier. (No std::regex:
// g++ 12 warns inside it under the sanitizers.)
bool has_raw_call(const std::string& line) {
  static const std::set<std::string, std::less<>> kCalls = {
      "open", "open64", "openat", "openat2", "creat", "read", "pread", "pread64", "readv", "write", "pwrite",
      "writev", "fsync", "fdatasync", "syncfs", "sync", "sync_file_range", "fchmod", "chmod", "fchmodat", "chown", "fchown", "lchown", "lseek",
      "lseek64", "stat", "stat64", "lstat", "lstat64", "fstat", "fstat64", "fstatat", "fstatat64", "statx",
      "access", "faccessat", "opendir", "fdopendir", "readdir", "readdir64", "closedir", "rename", "renameat",
      "renameat2", "link", "linkat", "symlink", "unlink", "unlinkat", "rmdir", "mkdir", "mkdirat", "listxattr",
      "llistxattr", "flistxattr", "getxattr", "lgetxattr", "setxattr", "realpath", "getcwd", "fopen", "truncate",
      "ftruncate", "readlink", "readlinkat", "ioctl"};
  for (const char* route : {"std::filesystem", "fstream", "FILE*", "FILE *"}) {
    if (line.find(route) != std::string::npos) return true;
  }
  for (std::size_t i = 0; i < line.size();) {
    if (!is_identifier_char(line[i]) || (i > 0 && is_identifier_char(line[i - 1]))) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < line.size() && is_identifier_char(line[end])) ++end;
    std::size_t next = end;
    while (next < line.size() && line[next] == ' ') ++next;
    const bool called = next < line.size() && line[next] == '(';
    std::size_t before = i;
    if (before >= 2 && line.compare(before - 2, 2, "::") == 0) before -= 2;  // "::name" is still the raw call
    if (before < i && before >= 3 && line.compare(before - 3, 3, "std") == 0 &&
        (before == 3 || !is_identifier_char(line[before - 4]))) {
      before -= 3;  // "std::rename" is the C library's call too
    }
    const char previous = before > 0 ? line[before - 1] : ' ';
    const bool reached_through = previous == ':' || previous == '.' || previous == '>' || is_identifier_char(previous);
    if (called && !reached_through && kCalls.contains(std::string_view(line).substr(i, end - i))) return true;
    i = end;
  }
  return false;
}

TEST(FilesystemLayerUse, NoRawFilesystemCallsInEngineBackupOrScreens) {
  const char* root = std::getenv("TARNWICK_SOURCE_DIR");
  if (root == nullptr) GTEST_SKIP() << "TARNWICK_SOURCE_DIR is not set";
  // The check itself: raw calls are found, the layer's and look-alikes are not.
  for (const char* raw : {"  ::lstat(path.c_str(), &status);", "if (rename(a, b) != 0)", "fd = open (p, O_RDONLY);", "std::rename(a, b);",
                          "std::filesystem::remove(p);"}) {
    EXPECT_TRUE(has_raw_call(raw)) << raw;
  }
  for (const char* fine : {"sys::lstat(path)", "read_file_bounded(path, 1)", "directory->readdir(", "x.read(b, n)",
                           "unlink_stage(path)", "reopen(x)"}) {
    EXPECT_FALSE(has_raw_call(fine)) << fine;
  }
  EXPECT_EQ(code_only("a(); // open(x)\nb(\"read(\"); /* lstat( */ c();"), "a(); \nb(\"\");  c();");
  EXPECT_EQ(code_only("q('\"'); r('\\\"'); n = 50'000; open("), "q(''); r(''); n = 50'000; open(");

  int files = 0;
  std::ostringstream findings;
  for (const char* folder : {"src/engine", "src/backup", "src/native_linux/ui"}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(std::filesystem::path(root) / folder)) {
      const std::string extension = entry.path().extension().string();
      if (extension != ".cpp" && extension != ".h" && extension != ".inc") continue;
      ++files;
      std::ifstream stream(entry.path());
      std::stringstream source;
      source << stream.rdbuf();
      std::istringstream lines(code_only(source.str()));
      std::string line;
      for (int number = 1; std::getline(lines, line); ++number) {
        if (has_raw_call(line)) {
          findings << entry.path().string() << ":" << number << ": " << line << "\n";
        }
      }
    }
  }
  EXPECT_GT(files, 0);
  EXPECT_EQ(findings.str(), "");
}

}  // namespace
}  // namespace tarnwick
