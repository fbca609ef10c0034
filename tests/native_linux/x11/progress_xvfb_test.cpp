// A long preview through the real program under Xvfb: its progress line moves
// while it runs, and Escape cancels it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "screen_xvfb_fixture.h"
#include "support/temp_tree.h"

namespace tarnwick::testing {
namespace {

constexpr Point kEditFileContents{50, 551};

class ProgressXvfbTest : public ScreenXvfbTest {
 protected:
  // A digest of the progress line's pixels at the start size, without the
  // elapsed time under it (which moves by itself). Taken at once: the walk
  // must still run when Escape arrives.
  std::string line_digest() {
    return server_.output("import -window " + std::to_string(window_) + " -crop 625x20+439+683 rgb:- | md5sum");
  }
  // Polls the progress line until its pixels differ from `before`; empty on time-out.
  std::string wait_for_change(const std::string& before) {
    for (int attempt = 0; attempt < 200; ++attempt) {
      std::string now = line_digest();
      if (now != before) return now;
    }
    return {};
  }
};

TEST_F(ProgressXvfbTest, APreviewShowsItsProgressMoveAndEscapeCancelsIt) {
  // 240 MB of text that is not UTF-8: each file goes through the legacy code
  // page converter, both ways, which keeps an optimised build's walk busy for
  // over a second; Escape follows the first moves within a fraction of that.
  // No content matches, so the plan holds no new contents.
  constexpr int kFolders = 4;
  constexpr int kFilesPerFolder = 1'000;
  std::string filler(60'000, 'x');
  for (std::size_t i = 50; i < filler.size(); i += 100) filler[i] = '\xE9';
  TempDir tree;
  for (int folder = 0; folder < kFolders; ++folder) {
    const std::string path = tree / ("d" + std::to_string(folder));
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
    for (int i = 0; i < kFilesPerFolder; ++i) write_file(path + "/Tarn" + std::to_string(i) + ".txt", filler);
  }
  retype(kTargetField, tree.path());
  keys("Escape");
  click(kEditFileContents);
  std::this_thread::sleep_for(150ms);  // the frame of the click
  const std::string idle = line_digest();
  keys("Return");

  // The line replaces the page buttons, then its counts move.
  const std::string first = wait_for_change(idle);
  ASSERT_FALSE(first.empty()) << "the progress line never appeared";
  const std::string second = wait_for_change(first);
  ASSERT_FALSE(second.empty()) << "the progress line never moved";
  keys("Escape");

  const std::string review = wait_for_review("Preview cancelled.");
  EXPECT_TRUE(review.starts_with("NOTICE\nPreview cancelled.\n")) << review;
  screenshot("progress-cancelled.png");
}

}  // namespace
}  // namespace tarnwick::testing
