// The review's excerpts through the real program under Xvfb: the page that
// Control+C copies shows the matching lines, and Control+Shift+C copies every
// page, a text larger than one X request can carry (sent in pieces).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "screen_xvfb_fixture.h"
#include "support/temp_tree.h"

namespace tarnwick::testing {
namespace {

// The "Edit file contents" checkbox at the start size.
constexpr Point kEditFileContents{50, 551};

std::size_t count_of(const std::string& text, std::string_view needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

TEST_F(ScreenXvfbTest, ExcerptsAreCopiedWithThePageAndCopyAllTakesEveryPage) {
  // Lines of four-byte characters around each match make each file's
  // excerpts about 2.5 KB: 7,500 files give a text above 16 MiB.
  constexpr int kFiles = 7'500;
  std::string wide;
  for (int i = 0; i < 60; ++i) wide += "\U0001D538";
  TempDir tree;
  const std::string body = wide + " Tarn " + wide + "\n";
  for (int i = 0; i < kFiles; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%05d.txt", i);
    write_file(tree / name, "first line\n" + body + body + body + body);
  }
  retype(kTargetField, tree.path());
  keys("Escape");
  click(kEditFileContents);
  keys("Return");
  const std::string page = wait_for_review("content edits");
  EXPECT_NE(page.find("0 renames / 7500 content edits / 7501 items scanned\nPage 1 of 75\n\n"), std::string::npos);
  EXPECT_NE(page.find("FILE  UTF-8 text  4 literal matches\n" + tree.path() + "/f00000.txt\n> " + tree.path() +
                      "/f00000.txt\n  2: …"),
            std::string::npos)
      << page.substr(0, 2000);
  EXPECT_EQ(count_of(page, "  … and 1 more matches in this file\n"), 100U);

  keys("ctrl+shift+c");
  std::string all;
  for (int attempt = 0; attempt < 40 && count_of(all, "Page ") < 75; ++attempt) {
    std::this_thread::sleep_for(250ms);
    all = server_.output("timeout 20 xclip -o -selection clipboard 2>/dev/null");
  }
  EXPECT_GT(all.size(), std::size_t{16} << 20);
  EXPECT_EQ(count_of(all, " of 75\n"), 75U);
  EXPECT_EQ(count_of(all, "  … and 1 more matches in this file\n"), std::size_t{kFiles});
  EXPECT_TRUE(all.starts_with(page.substr(0, page.find("f00001.txt"))));
}

}  // namespace
}  // namespace tarnwick::testing
