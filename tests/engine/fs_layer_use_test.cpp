// The engine and the backup touch the filesystem only through src/common/fs.h:
// no raw system call of the layer's kind may appear in their sources.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
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

TEST(FilesystemLayerUse, NoRawFilesystemCallsInEngineOrBackup) {
  const char* root = std::getenv("TARNWICK_SOURCE_DIR");
  if (root == nullptr) GTEST_SKIP() << "TARNWICK_SOURCE_DIR is not set";
  // A call is the bare or "::"-qualified name followed by "(", not reached
  // through "sys::", a member access or a longer identifier.
  const std::regex raw_call(
      R"((^|[^A-Za-z0-9_:.>])(::)?(open|open64|openat|openat2|creat|read|pread|pread64|readv|write|pwrite|writev|)"
      R"(fsync|fdatasync|fchmod|chmod|fchmodat|chown|fchown|lchown|lseek|lseek64|stat|stat64|lstat|lstat64|fstat|)"
      R"(fstat64|fstatat|fstatat64|statx|access|faccessat|opendir|fdopendir|readdir|readdir64|closedir|rename|)"
      R"(renameat|renameat2|link|linkat|symlink|unlink|unlinkat|rmdir|mkdir|mkdirat|listxattr|llistxattr|)"
      R"(flistxattr|getxattr|lgetxattr|setxattr|realpath|getcwd|fopen|truncate|ftruncate)\s*\()");
  const std::regex other_routes(R"(std::filesystem|std::[io]?fstream|\bFILE\s*\*)");
  // The check itself: raw calls are found, the layer's and look-alikes are not.
  for (const char* raw : {"  ::lstat(path.c_str(), &status);", "if (rename(a, b) != 0)", "fd = open (p, O_RDONLY);",
                          "std::filesystem::remove(p);"}) {
    EXPECT_TRUE(std::regex_search(raw, raw_call) || std::regex_search(raw, other_routes)) << raw;
  }
  for (const char* fine : {"sys::lstat(path)", "read_file_bounded(path, 1)", "directory->readdir(", "x.read(b, n)",
                           "unlink_stage(path)", "reopen(x)"}) {
    EXPECT_FALSE(std::regex_search(fine, raw_call) || std::regex_search(fine, other_routes)) << fine;
  }
  EXPECT_EQ(code_only("a(); // open(x)\nb(\"read(\"); /* lstat( */ c();"), "a(); \nb(\"\");  c();");
  EXPECT_EQ(code_only("q('\"'); r('\\\"'); n = 50'000; open("), "q(''); r(''); n = 50'000; open(");

  int files = 0;
  std::ostringstream findings;
  for (const char* folder : {"src/engine", "src/backup"}) {
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
        if (std::regex_search(line, raw_call) || std::regex_search(line, other_routes)) {
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
