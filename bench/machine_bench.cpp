// The machine's own speeds, printed beside the benchmark figures so that
// figures from different machines and different days can be compared: how
// fast fresh memory is first touched (4 KiB pages, and 2 MiB pages where the
// kernel grants them), and how many small files per second can be written and
// flushed, and created, on the filesystem the benchmarks use (TMPDIR, else /tmp).
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kTouchBytes = std::size_t{256} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr int kRounds = 5;
constexpr int kFlushedFiles = 200;
constexpr int kCreatedFiles = 2'000;
constexpr std::size_t kFlushedFileBytes = 4096;

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// MB/s of writing every byte of a fresh anonymous mapping once, the way a
// new output buffer is filled; the mapping's time to unmap is not counted.
double first_touch_mb_per_second(bool huge_pages) {
  std::vector<double> rates;
  for (int round = 0; round < kRounds; ++round) {
    const std::size_t mapped = kTouchBytes + kHugePage;
    void* mapping = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) return 0;
    const auto start = std::chrono::steady_clock::now();
    auto* buffer = static_cast<char*>(mapping);
    if (huge_pages) {
      const auto address = reinterpret_cast<std::uintptr_t>(mapping);
      buffer = reinterpret_cast<char*>((address + kHugePage - 1) & ~(std::uintptr_t{kHugePage} - 1));
      ::madvise(buffer, kTouchBytes, MADV_HUGEPAGE);
    }
    std::memset(buffer, 0x5A, kTouchBytes);
    rates.push_back(static_cast<double>(kTouchBytes) / 1e6 / seconds_since(start));
    ::munmap(mapping, mapped);
  }
  return median(rates);
}

// Small files per second, each created, written, flushed with fsync and closed.
double flushed_files_per_second(const std::string& folder) {
  const std::string block(kFlushedFileBytes, 'f');
  const auto start = std::chrono::steady_clock::now();
  for (int file = 0; file < kFlushedFiles; ++file) {
    const std::string path = folder + "/f" + std::to_string(file);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size()) || ::fsync(fd) != 0 ||
        ::close(fd) != 0) {
      return 0;
    }
  }
  const double rate = kFlushedFiles / seconds_since(start);
  for (int file = 0; file < kFlushedFiles; ++file) ::unlink((folder + "/f" + std::to_string(file)).c_str());
  return rate;
}

// Empty files per second, each created (O_CREAT | O_EXCL) and closed. Some
// filesystems make creation itself slow: ext4 without a journal, for one,
// passes over every inode of the folder's group freed in the last minute or
// so, which a temp folder other programs fill and empty often has plenty of.
double created_files_per_second(const std::string& folder) {
  const auto start = std::chrono::steady_clock::now();
  for (int file = 0; file < kCreatedFiles; ++file) {
    const int fd = ::open((folder + "/c" + std::to_string(file)).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 || ::close(fd) != 0) return 0;
  }
  const double rate = kCreatedFiles / seconds_since(start);
  for (int file = 0; file < kCreatedFiles; ++file) ::unlink((folder + "/c" + std::to_string(file)).c_str());
  return rate;
}

std::string load_average() {
  std::ifstream file("/proc/loadavg");
  std::string one, five, fifteen;
  file >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

std::string huge_page_mode() {
  std::ifstream file("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string mode;
  std::getline(file, mode);
  return mode.empty() ? "unavailable" : mode;
}

}  // namespace

int main() {
  const char* base = std::getenv("TMPDIR");
  std::string folder = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tarnwick-machine-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  std::printf("load average (1, 5, 15 min): %s on %ld processors\n", load_average().c_str(),
              ::sysconf(_SC_NPROCESSORS_ONLN));
  std::printf("first touch of fresh memory, 4 KiB pages: %.0f MB/s\n", first_touch_mb_per_second(false));
  std::printf("first touch of fresh memory, 2 MiB pages advised: %.0f MB/s (transparent huge pages: %s)\n",
              first_touch_mb_per_second(true), huge_page_mode().c_str());
  const std::string parent = folder.substr(0, folder.rfind('/'));
  std::printf("small-file write + fsync in %s: %.0f files/s\n", parent.c_str(), flushed_files_per_second(folder));
  std::printf("empty-file creation in %s: %.0f files/s\n", parent.c_str(), created_files_per_second(folder));
  ::rmdir(folder.c_str());
  return 0;
}
