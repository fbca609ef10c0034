// Temp-folder trees for tests.
#include "support/temp_tree.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace tarnwick::testing {

namespace {

void check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error("test tree: " + what + ": " + std::strerror(errno));
}

void make_parents(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  std::error_code error;
  std::filesystem::create_directories(parent, error);
}

// Makes every folder below root writable and searchable so removal can proceed.
void unlock_tree(const std::string& root) {
  struct stat status {};
  if (::lstat(root.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return;
  ::chmod(root.c_str(), 0700);
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(root, error)) {
    unlock_tree(entry.path().string());
  }
}

}  // namespace

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tarnwick-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  check(::mkdtemp(buffer.data()) != nullptr, "mkdtemp");
  path_ = buffer.data();
}

TempDir::~TempDir() {
  unlock_tree(path_);
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

FastTempRoot::FastTempRoot() {
  if (::geteuid() != 0) return;
  char pattern[] = "/tmp/tarnwick-tmpfs-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return;
  if (run_command(std::string("mount -t tmpfs -o size=512m,mode=1777 tarnwick-sweep ") + pattern) != 0) {
    ::rmdir(pattern);
    return;
  }
  mount_point_ = pattern;
  if (const char* current = std::getenv("TMPDIR")) previous_tmpdir_ = current;
  ::setenv("TMPDIR", pattern, 1);
}

FastTempRoot::~FastTempRoot() {
  if (!mount_point_) return;
  if (previous_tmpdir_) {
    ::setenv("TMPDIR", previous_tmpdir_->c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  run_command("umount " + *mount_point_);
  ::rmdir(mount_point_->c_str());
}

std::string TempDir::operator/(const std::string& relative) const { return path_ + "/" + relative; }

std::string TempDir::file(const std::string& relative, const std::string& content, mode_t mode) {
  const std::string path = *this / relative;
  make_parents(path);
  write_file(path, content, mode);
  return path;
}

std::string TempDir::folder(const std::string& relative, mode_t mode) {
  const std::string path = *this / relative;
  make_parents(path);
  check(::mkdir(path.c_str(), mode) == 0 || errno == EEXIST, "mkdir " + path);
  check(::chmod(path.c_str(), mode) == 0, "chmod " + path);
  return path;
}

std::string TempDir::symlink(const std::string& relative, const std::string& link_target) {
  const std::string path = *this / relative;
  make_parents(path);
  check(::symlink(link_target.c_str(), path.c_str()) == 0, "symlink " + path);
  return path;
}

std::string TempDir::hardlink(const std::string& relative, const std::string& existing_relative) {
  const std::string path = *this / relative;
  make_parents(path);
  check(::link((*this / existing_relative).c_str(), path.c_str()) == 0, "link " + path);
  return path;
}

std::string TempDir::fifo(const std::string& relative) {
  const std::string path = *this / relative;
  make_parents(path);
  check(::mkfifo(path.c_str(), 0644) == 0, "mkfifo " + path);
  return path;
}

void TempDir::xattr(const std::string& relative, const std::string& name, const std::string& value) {
  const std::string path = *this / relative;
  check(::lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) == 0, "setxattr " + path);
}

void TempDir::chmod(const std::string& relative, mode_t mode) {
  const std::string path = *this / relative;
  check(::chmod(path.c_str(), mode) == 0, "chmod " + path);
}

std::string read_file(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream) throw std::runtime_error("test tree: cannot read " + path);
  std::ostringstream content;
  content << stream.rdbuf();
  return content.str();
}

void write_file(const std::string& path, const std::string& content, mode_t mode) {
  {
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    if (!stream) throw std::runtime_error("test tree: cannot write " + path);
    stream.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  check(::chmod(path.c_str(), mode) == 0, "chmod " + path);
}

bool exists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

namespace {

void record(const std::string& root, const std::string& relative, TreeSnapshot& snapshot) {
  const std::string path = relative.empty() ? root : root + "/" + relative;
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) return;
  SnapshotEntry entry;
  entry.mode = status.st_mode & 07777;
  if (S_ISREG(status.st_mode)) {
    entry.type = 'f';
    const bool unreadable = (status.st_mode & 0400) == 0;
    if (unreadable) ::chmod(path.c_str(), status.st_mode | 0400);
    entry.content = read_file(path);
    if (unreadable) ::chmod(path.c_str(), status.st_mode & 07777);
  } else if (S_ISLNK(status.st_mode)) {
    entry.type = 'l';
    std::vector<char> target(4096);
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length > 0) entry.content.assign(target.data(), static_cast<std::size_t>(length));
  } else if (S_ISFIFO(status.st_mode)) {
    entry.type = 'p';
  } else if (S_ISDIR(status.st_mode)) {
    entry.type = 'd';
  }
  snapshot[relative] = entry;
  if (entry.type != 'd') return;
  std::error_code error;
  for (const auto& child : std::filesystem::directory_iterator(path, error)) {
    const std::string name = child.path().filename().string();
    record(root, relative.empty() ? name : relative + "/" + name, snapshot);
  }
}

}  // namespace

TreeSnapshot snapshot_tree(const std::string& root) {
  TreeSnapshot snapshot;
  record(root, "", snapshot);
  return snapshot;
}

std::string describe_difference(const TreeSnapshot& expected, const TreeSnapshot& actual) {
  std::ostringstream text;
  for (const auto& [path, entry] : expected) {
    const auto found = actual.find(path);
    if (found == actual.end()) {
      text << "missing: " << path << "\n";
    } else if (!(found->second == entry)) {
      text << "changed: " << path << " (type " << entry.type << "->" << found->second.type << ", mode "
           << std::oct << entry.mode << "->" << found->second.mode << std::dec << ", "
           << entry.content.size() << "->" << found->second.content.size() << " bytes)\n";
    }
  }
  for (const auto& [path, entry] : actual) {
    if (!expected.contains(path)) text << "extra: " << path << "\n";
  }
  return text.str();
}

int run_command(const std::string& command) {
  const int status = std::system(command.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string command_output(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, count);
  ::pclose(pipe);
  return output;
}

}  // namespace tarnwick::testing
