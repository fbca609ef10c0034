// Every filesystem call of the preview fails in turn: each failure ends the
// preview with its own path-form text, and nothing is ever written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "common/fs_testing.h"
#include "common/text.h"
#include "engine/preview_support.h"
#include "engine/scan.h"
#include "support/temp_tree.h"

namespace tarnwick {
namespace {

using sys::Call;
using sys::testing::Fault;
using sys::testing::ScopedFaults;
using testing::TempDir;

struct CallMessages {
  Call call;
  std::vector<std::string> messages;  // any of these, followed by the system error
  bool names_path;                    // path form, or the bare "message: error" form
};

const CallMessages kWalkCalls[] = {
    {Call::Getcwd, {""}, false},
    {Call::Lstat, {"Cannot inspect selected path", "Cannot inspect entry", "Cannot verify destination"}, true},
    {Call::Fstatat, {"Cannot inspect entry"}, true},
    {Call::Realpath, {"Cannot resolve selected path"}, false},
    {Call::Opendir, {"Cannot read folder"}, true},
    {Call::Readdir, {"Cannot enumerate folder"}, true},
};

class CurrentFolder {
 public:
  explicit CurrentFolder(const std::string& path) : saved_(::getcwd(nullptr, 0)) {
    EXPECT_EQ(::chdir(path.c_str()), 0);
  }
  ~CurrentFolder() {
    EXPECT_EQ(::chdir(saved_), 0);
    std::free(saved_);
  }
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  char* saved_;
};

TEST(PreviewFaults, EveryCallOfTheWalkFailsWithItsPathFormText) {
  TempDir dir;
  dir.file("root/a/x-old", "1");
  dir.file("root/b-old", "2");
  dir.file("root/c.txt", "3");
  dir.folder("root/empty");
  const testing::TreeSnapshot before = testing::snapshot_tree(dir.path());
  CurrentFolder here(dir.path());
  const OperationRequest request = testing::preview_request("root", "old", "new");  // relative: uses getcwd
  ASSERT_TRUE(run_preview(request).plan.has_value());

  const int errors[] = {EIO, EACCES, ENOMEM, ELOOP, ENAMETOOLONG};
  // The look for an interrupted apply's journal lists the target and every
  // folder above it first, and passes over one it may not read; the shared
  // temporary folder among them may change size while the test runs.
  const auto ancestor_listings = static_cast<std::uint64_t>(std::count(dir.path().begin(), dir.path().end(), '/') + 2);
  int injection_points = 0;
  for (const CallMessages& kind : kWalkCalls) {
    std::uint64_t calls = 0;
    {
      ScopedFaults counting;
      ASSERT_TRUE(run_preview(request).plan.has_value());
      calls = sys::testing::calls_made(kind.call);
    }
    EXPECT_GT(calls, 0u) << sys::call_name(kind.call);
    for (std::uint64_t n = 1; n <= calls; ++n) {
      for (const bool persistent : {false, true}) {
        const int error = errors[(injection_points++) % std::size(errors)];
        ScopedFaults faults(Fault{.call_number = n, .error = error, .persistent = persistent, .only = kind.call});
        const PreviewFinished finished = run_preview(request);
        if (finished.plan) {
          // Passed over: a folder above the target it may not read. Not
          // reached: the listing of a shared folder above (the temporary
          // folder) shrank since the calls were counted.
          const bool passed_over = kind.call == Call::Opendir && error == EACCES && !persistent && n <= ancestor_listings;
          EXPECT_TRUE(passed_over || sys::testing::faults_fired() == 0) << sys::call_name(kind.call) << " call " << n;
          continue;
        }
        ASSERT_FALSE(finished.plan.has_value()) << sys::call_name(kind.call) << " call " << n;
        const std::string& text = finished.plan.error();
        const std::string error_text = os_error_text(error);
        bool recognised = false;
        for (const std::string& message : kind.messages) {
          const std::string head = message.empty() ? error_text : message + ": " + error_text;
          recognised = recognised || text.starts_with(kind.names_path ? head + "\nPath: /" : head);
        }
        // The path named is the selection, one of its ancestors, or inside it.
        const std::size_t path_at = text.find("\nPath: ");
        const std::string path = path_at == std::string::npos ? "" : text.substr(path_at + 7);
        if (kind.names_path) {
          EXPECT_TRUE(dir.path().starts_with(path) || path.starts_with(dir.path())) << text;
        }
        EXPECT_TRUE(recognised) << sys::call_name(kind.call) << " call " << n << ": " << text;
        if (!kind.names_path) {
          EXPECT_EQ(text.find("\nPath: "), std::string::npos) << text;
        }
      }
    }
  }
  std::printf("preview walk fault injection points: %d\n", injection_points);
  EXPECT_EQ(testing::describe_difference(before, testing::snapshot_tree(dir.path())), "");
}

TEST(BoundedRead, FailuresAndRefusalsNameThePath) {
  TempDir dir;
  const std::string file = dir.file("f", "0123456789");
  const auto failed = [&](Call call, std::uint64_t n, int error) {
    ScopedFaults faults(Fault{.call_number = n, .error = error, .only = call});
    return read_file_bounded(file, 100).error();
  };
  EXPECT_EQ(failed(Call::Open, 1, EACCES), path_error("Cannot open file", EACCES, file));
  EXPECT_EQ(failed(Call::Fstat, 1, EIO), path_error("Cannot inspect open file", EIO, file));
  EXPECT_EQ(failed(Call::Read, 1, EIO), path_error("Cannot read file", EIO, file));
  EXPECT_EQ(failed(Call::Read, 2, EINVAL), path_error("Cannot read file", EINVAL, file)) << "the end-of-file read";

  EXPECT_EQ(read_file_bounded(file, 10).value(), "0123456789") << "exactly at the limit";
  EXPECT_EQ(read_file_bounded(file, 9).error(),
            path_form("File grew beyond the safe size limit", "create a fresh preview", file));
  EXPECT_EQ(read_file_bounded(dir.file("empty"), 0).value(), "");

  const std::string link = dir.symlink("link", "f");
  EXPECT_EQ(read_file_bounded(link, 100).error(), path_error("Cannot open file", ELOOP, link));
  const std::string hard = dir.hardlink("hard", "f");
  EXPECT_EQ(read_file_bounded(hard, 100).error(),
            path_form("File became a link or special file", "create a fresh preview", hard));
  const std::string fifo = dir.fifo("pipe");
  EXPECT_EQ(read_file_bounded(fifo, 100).error(),
            path_form("File became a link or special file", "create a fresh preview", fifo))
      << "a fifo must neither hang the read nor pass as a file";
}

TEST(BoundedRead, AFileThatGrowsAfterItWasInspectedIsReadWithinTheLimit) {
  TempDir dir;
  const std::string file = dir.file("g", "abc");
  {
    ScopedFaults faults;
    sys::testing::on_call(1, [&] { testing::write_file(file, "abcdefgh"); }, Call::Read);
    EXPECT_EQ(read_file_bounded(file, 100).value(), "abcdefgh");
  }
  {
    ScopedFaults faults;
    sys::testing::on_call(1, [&] { testing::write_file(file, std::string(300, 'z')); }, Call::Read);
    EXPECT_EQ(read_file_bounded(file, 100).error(),
              path_form("File grew beyond the safe size limit", "create a fresh preview", file));
  }
}

}  // namespace
}  // namespace tarnwick
