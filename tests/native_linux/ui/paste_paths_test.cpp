// Paths from a file manager's paste and "~" in the path fields: where a pasted
// path goes or why it is refused, and how HOME stands in for "~" in what the
// target, the backup destination and the browser's path mean.
#include <gtest/gtest.h>

#include <filesystem>

#include "native_linux/ui/keyboard.h"
#include "support/temp_tree.h"
#include "ui_state_support.h"

namespace tarnwick {
namespace {

using testing::control;
using testing::FakeWorkers;
using testing::key;
using testing::ScopedHome;
using testing::TempDir;

constexpr std::int64_t kNow = 70'000;

TEST(PastedPath, GoesWherePastedTextWouldOrItsRefusalBecomesTheStatus) {
  UiState ui;
  ui.fields[kFieldTarget] = "/old";
  focus_field(ui, kFieldTarget);
  handle_key(ui, control('a'), kNow);
  handle_key(ui, control('v'), kNow);
  ASSERT_TRUE(ui.paste_request_pending);
  accept_pasted_path(ui, std::string("/home/a/Tarn docs"));
  EXPECT_EQ(ui.fields[kFieldTarget], "/home/a/Tarn docs") << "the selected text is replaced";
  EXPECT_EQ(ui.cursor, ui.fields[kFieldTarget].size());

  handle_key(ui, control('v'), kNow);
  accept_pasted_path(ui, fail("Drop one file or folder at a time."));
  EXPECT_EQ(ui.fields[kFieldTarget], "/home/a/Tarn docs");
  ASSERT_TRUE(ui.status);
  EXPECT_EQ(ui.status->severity, StatusSeverity::Stopped);
  EXPECT_EQ(ui.status->message, "Drop one file or folder at a time.");

  // The focus moved on before the path came: it goes nowhere.
  handle_key(ui, control('v'), kNow);
  focus_field(ui, kFieldBackupDestination);
  accept_pasted_path(ui, std::string("/elsewhere"));
  EXPECT_EQ(ui.fields[kFieldBackupDestination], "");
  accept_pasted_path(ui, std::string("/unasked"));
  EXPECT_EQ(ui.fields[kFieldBackupDestination], "") << "no paste was asked for";

  EXPECT_TRUE(is_path_field(kFieldTarget));
  EXPECT_TRUE(is_path_field(kFieldBrowserPath));
  EXPECT_TRUE(is_path_field(kFieldBackupDestination));
  EXPECT_FALSE(is_path_field(kFieldFind));
  EXPECT_FALSE(is_path_field(kFieldReplacement));
  EXPECT_FALSE(is_path_field(kFieldExtensions));
}

TEST(HomeExpansion, OnlyALeadingTildeAndOnlyFromAnAbsoluteHome) {
  struct Case {
    const char* home;  // nullptr: unset
    std::string path;
    std::string expected;
  };
  const std::vector<Case> cases{
      {"/home/a", "~", "/home/a"},
      {"/home/a", "~/Tarn docs", "/home/a/Tarn docs"},
      {"/home/a/", "~/x", "/home/a/x"},
      {"/", "~/x", "/x"},
      {"/", "~", "/"},
      {"/home/a", "~b/x", "~b/x"},
      {"/home/a", "/srv/~/x", "/srv/~/x"},
      {"/home/a", " ~/x", " ~/x"},
      {"relative", "~/x", "~/x"},
      {"", "~/x", "~/x"},
      {nullptr, "~/x", "~/x"},
  };
  for (const Case& c : cases) {
    ScopedHome home(c.home);
    EXPECT_EQ(expand_home(c.path), c.expected) << (c.home ? c.home : "(unset)") << " " << c.path;
  }
}

TEST(HomeExpansion, TheRequestAndTheBrowserMeanTheExpandedPath) {
  TempDir tree;
  tree.folder("backups/old");
  tree.folder("docs");
  ScopedHome home(tree.path().c_str());
  FakeWorkers workers;
  UiState ui;
  ui.spawn = workers.spawner();
  ui.fields[kFieldTarget] = "~/docs";
  EXPECT_EQ(build_request(ui).target, tree / "docs");
  EXPECT_EQ(ui.fields[kFieldTarget], "~/docs") << "the field keeps what was typed";
  start_preview(ui);
  workers.finish(PreviewFinished{build_request(ui), PreviewPlan{}});
  poll_worker(ui);
  EXPECT_TRUE(ui.request_snapshot) << "the expanded request is the current one";

  ui.fields[kFieldBackupDestination] = "~/backups";
  dispatch_action(ui, UiAction::BrowseBackupFolder, 0, kNow);
  EXPECT_EQ(ui.browser.current_folder, std::filesystem::canonical(tree / "backups").string());
  ui.fields[kFieldBrowserPath] = "~/backups/old";
  focus_field(ui, kFieldBrowserPath);
  handle_key(ui, key(Key::Return), kNow);
  EXPECT_EQ(ui.browser.current_folder, std::filesystem::canonical(tree / "backups/old").string());
}

}  // namespace
}  // namespace tarnwick
