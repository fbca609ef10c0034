// The folder browser on real temp folders: where it opens, what it lists and
// in which order, what it lets the user choose, failures injected through the
// filesystem layer, double clicks on an injected clock, and its keys.
#include "native_linux/ui/browser.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "common/fs_testing.h"
#include "support/temp_tree.h"
#include "ui_state_support.h"

namespace tarnwick {
namespace {

using testing::FakeWorkers;
using testing::key;
using testing::plan_with;
using testing::previewed_state;
using testing::ScopedHome;
using testing::TempDir;
using testing::typed;
namespace faults = sys::testing;

constexpr std::int64_t kNow = 80'000;

std::string canonical(const std::string& path) { return std::filesystem::canonical(path).string(); }

std::vector<std::string> row_names(const UiState& ui) {
  std::vector<std::string> names;
  for (const BrowserRow& row : ui.browser.rows) names.push_back(row.name);
  return names;
}

void act(UiState& ui, UiAction action, std::uint32_t payload = 0, std::int64_t now_ms = kNow) {
  dispatch_action(ui, action, payload, now_ms);
}

void press(UiState& ui, const DecodedKey& k) { handle_key(ui, k, kNow); }

TEST(BrowserOpen, StartsAtTheFirstExistingFolderOfTheMode) {
  TempDir tree;
  const std::string file = tree.file("docs/report.txt", "x");
  tree.folder("backups");
  UiState ui;
  ui.fields[kFieldTarget] = file;
  focus_field(ui, kFieldFind);
  act(ui, UiAction::BrowseTarget);
  EXPECT_TRUE(ui.browser.open);
  EXPECT_EQ(ui.browser.mode, BrowserMode::Target);
  EXPECT_EQ(ui.browser.current_folder, canonical(tree / "docs")) << "a file target opens in its folder";
  EXPECT_EQ(ui.fields[kFieldBrowserPath], ui.browser.current_folder);
  EXPECT_FALSE(ui.focused_field);
  EXPECT_EQ(ui.browser.focus, BrowserFocus::PathField);
  EXPECT_EQ(row_names(ui), (std::vector<std::string>{"report.txt"}));

  ui.browser = BrowserState{};
  ui.fields[kFieldTarget] = tree / "gone/deeper/still";
  act(ui, UiAction::BrowseTarget);
  EXPECT_EQ(ui.browser.current_folder, canonical(std::filesystem::current_path().string()))
      << "neither the text nor its parent exists";

  // Backup mode: the destination, else the target's parent; the path field takes the focus.
  ui.browser = BrowserState{};
  ui.fields[kFieldTarget] = tree / "docs";
  act(ui, UiAction::BrowseBackupFolder);
  EXPECT_EQ(ui.browser.mode, BrowserMode::BackupFolder);
  EXPECT_EQ(ui.browser.current_folder, canonical(tree.path()));
  EXPECT_EQ(ui.focused_field, kFieldBrowserPath);
  EXPECT_EQ(ui.cursor, ui.fields[kFieldBrowserPath].size());
  EXPECT_EQ(row_names(ui), (std::vector<std::string>{"backups", "docs"})) << "folders only";
  ui.browser = BrowserState{};
  ui.fields[kFieldBackupDestination] = tree / "backups";
  act(ui, UiAction::BrowseBackupFolder);
  EXPECT_EQ(ui.browser.current_folder, canonical(tree / "backups"));
}

TEST(BrowserListing, FoldersFirstThenByTheFullLowerCaseFormInByteOrder) {
  TempDir tree;
  for (const char* name : {"b.txt", "A.txt", "\xc3\x84rger.txt", "Zulu.txt", "_x", "\xc3\xa1rbol"}) tree.file(name);
  for (const char* name : {"zeta", "Alpha", "\xce\xa3IGMA"}) tree.folder(name);
  const FolderListing listing = list_folder(tree.path(), ListedKinds::FilesAndFolders, HiddenNames::Skip);
  std::vector<std::string> names;
  for (const BrowserRow& row : listing.rows) names.push_back(row.name);
  // "Ä" lower-cases to "ä" (0xC3 0xA4), after "á" (0xC3 0xA1) and after every ASCII letter.
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "zeta", "\xce\xa3IGMA", "_x", "A.txt", "b.txt", "Zulu.txt",
                                             "\xc3\xa1rbol", "\xc3\x84rger.txt"}));
  EXPECT_FALSE(listing.message);

  // Equal keys keep the order they came in.
  std::vector<BrowserRow> rows{{"b", false, false}, {"B", false, false}, {"a", true, false}, {"b", false, true}};
  sort_browser_rows(rows);
  EXPECT_EQ(rows[0].name, "a");
  EXPECT_EQ(rows[1].name, "b");
  EXPECT_EQ(rows[2].name, "B");
  EXPECT_TRUE(rows[3].is_link);
}

TEST(BrowserListing, HiddenNamesOnlyWithShowHiddenAndNotAfterReopening) {
  TempDir tree;
  tree.file(".secret");
  tree.folder(".config");
  tree.file("plain");
  UiState ui;
  ui.fields[kFieldTarget] = tree.path();
  act(ui, UiAction::BrowseTarget);
  EXPECT_EQ(row_names(ui), (std::vector<std::string>{"plain"}));
  act(ui, UiAction::BrowserToggleHidden);
  EXPECT_TRUE(ui.browser.show_hidden);
  EXPECT_EQ(ui.browser.focus, BrowserFocus::ShowHidden);
  EXPECT_EQ(row_names(ui), (std::vector<std::string>{".config", ".secret", "plain"}));
  act(ui, UiAction::CloseBrowser);
  act(ui, UiAction::BrowseTarget);
  EXPECT_FALSE(ui.browser.show_hidden);
  EXPECT_EQ(row_names(ui), (std::vector<std::string>{"plain"}));
}

// Links can be selected, never used or entered; names that are not UTF-8 are
// listed but never handed on; the index of a row always names that row.
TEST(BrowserChoice, LinksAndNonUtf8PathsAreNeverChosen) {
  TempDir tree;
  tree.folder("real");
  tree.symlink("link", "real");
  tree.file("bad\xff.txt");
  tree.folder("bad\xfe" "dir");
  tree.file("good.txt");
  UiState ui;
  ui.fields[kFieldTarget] = tree.path();
  act(ui, UiAction::BrowseTarget);
  ASSERT_EQ(row_names(ui), (std::vector<std::string>{"bad\xfe" "dir", "real", "bad\xff.txt", "good.txt", "link"}));
  EXPECT_EQ(browser_chosen_path(ui.browser), canonical(tree.path())) << "no row: the current folder";

  act(ui, UiAction::BrowserRowClicked, 4, kNow);
  EXPECT_EQ(ui.browser.selected_row, 4U);
  EXPECT_FALSE(browser_chosen_path(ui.browser));
  act(ui, UiAction::BrowserRowClicked, 4, kNow + 100);  // a double click on the link
  EXPECT_TRUE(ui.browser.open);
  EXPECT_EQ(ui.browser.current_folder, canonical(tree.path()));
  act(ui, UiAction::UseBrowserChoice);
  EXPECT_TRUE(ui.browser.open) << "nothing to use";

  act(ui, UiAction::BrowserRowClicked, 2, kNow + 1000);
  EXPECT_FALSE(browser_chosen_path(ui.browser)) << "a file name that is not UTF-8";
  act(ui, UiAction::BrowserRowClicked, 2, kNow + 1100);
  EXPECT_TRUE(ui.browser.open);
  EXPECT_EQ(ui.fields[kFieldTarget], tree.path());

  act(ui, UiAction::BrowserRowClicked, 0, kNow + 2000);
  act(ui, UiAction::BrowserRowClicked, 0, kNow + 2100);  // a folder that is not UTF-8 can be entered
  EXPECT_EQ(ui.browser.current_folder, canonical(tree.path()) + "/bad\xfe" "dir");
  EXPECT_FALSE(browser_chosen_path(ui.browser)) << "but not used";
  act(ui, UiAction::BrowserUp);

  act(ui, UiAction::BrowserRowClicked, 3, kNow + 3000);
  EXPECT_EQ(browser_chosen_path(ui.browser), canonical(tree.path()) + "/good.txt");
  act(ui, UiAction::BrowserRowClicked, 7, kNow + 3100);  // beyond the rows
  EXPECT_EQ(ui.browser.selected_row, 3U);
}

TEST(BrowserChoice, UseWritesTheTargetOrTheDestinationAndCloses) {
  TempDir tree;
  tree.folder("dest/inner");
  tree.file("dest/file.txt");
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(2, 0));
  ui.fields[kFieldTarget] = tree / "dest";
  ASSERT_TRUE(ui.preview);
  act(ui, UiAction::BrowseBackupFolder);
  EXPECT_EQ(row_names(ui), (std::vector<std::string>{"dest"}));
  act(ui, UiAction::BrowserRowClicked, 0, kNow);
  act(ui, UiAction::BrowserRowClicked, 0, kNow + 449);  // opens the folder
  EXPECT_EQ(ui.browser.current_folder, canonical(tree / "dest"));
  EXPECT_EQ(row_names(ui), (std::vector<std::string>{"inner"}));
  EXPECT_FALSE(ui.browser.selected_row);
  act(ui, UiAction::UseBrowserChoice);
  EXPECT_FALSE(ui.browser.open);
  EXPECT_EQ(ui.fields[kFieldBackupDestination], canonical(tree / "dest"));
  EXPECT_TRUE(ui.preview) << "the destination does not invalidate";
  EXPECT_FALSE(ui.focused_field);

  ui.review_scroll = 7;
  act(ui, UiAction::BrowseTarget);
  EXPECT_EQ(row_names(ui), (std::vector<std::string>{"inner", "file.txt"}));
  act(ui, UiAction::BrowserRowClicked, 1, kNow + 5000);
  act(ui, UiAction::BrowserRowClicked, 1, kNow + 5450);
  EXPECT_TRUE(ui.browser.open) << "450 ms is no double click";
  act(ui, UiAction::BrowserRowClicked, 1, kNow + 5950);
  EXPECT_TRUE(ui.browser.open) << "500 ms apart: selected twice";
  act(ui, UiAction::BrowserRowClicked, 1, kNow + 6000);
  EXPECT_FALSE(ui.browser.open);
  EXPECT_EQ(ui.fields[kFieldTarget], canonical(tree / "dest/file.txt"));
  EXPECT_FALSE(ui.preview) << "a new target invalidates";
  EXPECT_EQ(ui.review_scroll, 0);
}

TEST(BrowserNavigation, UpHomeAndOpenFolderWithTheirMessages) {
  TempDir tree;
  tree.folder("a/b");
  tree.file("a/file");
  UiState ui;
  ui.fields[kFieldTarget] = tree / "a/b";
  act(ui, UiAction::BrowseTarget);
  act(ui, UiAction::BrowserUp);
  EXPECT_EQ(ui.browser.current_folder, canonical(tree / "a"));
  EXPECT_EQ(ui.browser.focus, BrowserFocus::Up);

  act(ui, UiAction::BrowserRowClicked, 1, kNow);  // the file
  act(ui, UiAction::BrowserOpenFolder);
  EXPECT_EQ(ui.browser.message, "Choose an accessible folder to navigate.");
  EXPECT_EQ(ui.browser.current_folder, canonical(tree / "a"));
  EXPECT_EQ(ui.browser.selected_row, 1U) << "a failed navigation changes nothing else";
  act(ui, UiAction::BrowserRowClicked, 0, kNow + 1000);
  act(ui, UiAction::BrowserOpenFolder);
  EXPECT_EQ(ui.browser.current_folder, canonical(tree / "a/b"));
  EXPECT_FALSE(ui.browser.message);

  for (const char* home : {static_cast<const char*>(nullptr), "", "relative/home", "/no/such/home/folder"}) {
    ScopedHome scoped(home);
    ui.browser.message.reset();
    act(ui, UiAction::BrowserHome);
    EXPECT_EQ(ui.browser.message, "Choose an accessible folder to navigate.") << (home ? home : "(unset)");
    EXPECT_EQ(ui.browser.current_folder, canonical(tree / "a/b"));
  }
  {
    ScopedHome scoped((tree / "a").c_str());
    act(ui, UiAction::BrowserHome);
    EXPECT_EQ(ui.browser.current_folder, canonical(tree / "a"));
  }
  browser_navigate(ui, "/");
  act(ui, UiAction::BrowserUp);
  EXPECT_EQ(ui.browser.current_folder, "/") << "nothing above the root";
}

TEST(BrowserListing, TheLimitIsReportedOnlyBeyondFiftyThousandEntries) {
  TempDir tree;
  const std::string folder = tree.folder("many");
  for (std::size_t i = 0; i < kMaxBrowserEntries; ++i) {
    const std::string path = folder + "/f" + std::to_string(i);
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
  tree.file("many/.hidden");  // skipped, so not counted
  FolderListing listing = list_folder(folder, ListedKinds::FilesAndFolders, HiddenNames::Skip);
  EXPECT_EQ(listing.rows.size(), kMaxBrowserEntries);
  EXPECT_FALSE(listing.message) << "exactly the limit is all there is";
  tree.file("many/one more");
  listing = list_folder(folder, ListedKinds::FilesAndFolders, HiddenNames::Skip);
  EXPECT_EQ(listing.rows.size(), kMaxBrowserEntries);
  EXPECT_EQ(listing.message, "This folder contains more than 50,000 entries. Enter a narrower path.");
  EXPECT_EQ(list_folder(folder, ListedKinds::FoldersOnly, HiddenNames::Skip).rows.size(), 0U);
}

TEST(BrowserListing, FailuresOfTheFolderOfAnEntryAndOfTheStatFallback) {
  TempDir tree;
  for (const char* name : {"a", "b", "c"}) tree.file(name);
  tree.folder("d");
  {
    faults::ScopedFaults plan(faults::Fault{.call_number = 1, .error = EACCES, .only = sys::Call::Opendir});
    const FolderListing listing = list_folder(tree.path(), ListedKinds::FilesAndFolders, HiddenNames::Skip);
    EXPECT_TRUE(listing.rows.empty());
    EXPECT_EQ(listing.message, "Permission denied (os error 13)");
  }
  {
    faults::ScopedFaults plan(faults::Fault{.call_number = 2, .error = EIO, .only = sys::Call::Readdir});
    const FolderListing listing = list_folder(tree.path(), ListedKinds::FilesAndFolders, HiddenNames::Skip);
    EXPECT_EQ(listing.rows.size(), 4U) << "the listing goes on after a failing read";
    EXPECT_EQ(listing.message, "Input/output error (os error 5)");
  }
  {
    faults::ScopedFaults plan(
        faults::Fault{.call_number = 1, .error = EIO, .persistent = true, .only = sys::Call::Readdir});
    const FolderListing listing = list_folder(tree.path(), ListedKinds::FilesAndFolders, HiddenNames::Skip);
    EXPECT_TRUE(listing.rows.empty()) << "a stream that keeps failing ends the listing";
    EXPECT_EQ(faults::faults_fired(), 8U);
  }
  // Entries without a type take fstatat, which sees folders without following links.
  faults::ScopedFaults plan;
  faults::hide_entry_types(true);
  tree.symlink("e", "d");
  UiState ui;
  ui.fields[kFieldTarget] = tree.path();
  act(ui, UiAction::BrowseTarget);
  EXPECT_EQ(row_names(ui), (std::vector<std::string>{"d", "a", "b", "c", "e"}));
  EXPECT_TRUE(ui.browser.rows[4].is_link);
  EXPECT_EQ(faults::calls_made(sys::Call::Fstatat), 5U);

  faults::install(faults::Fault{.call_number = 2, .error = EACCES, .only = sys::Call::Fstatat});
  faults::hide_entry_types(true);
  act(ui, UiAction::BrowserToggleHidden);  // lists again
  ASSERT_EQ(ui.browser.rows.size(), 4U);
  ASSERT_TRUE(ui.browser.message);
  EXPECT_TRUE(ui.browser.message->starts_with("Permission denied (os error 13): ")) << *ui.browser.message;
  // Whichever entry was skipped, every row's path is still its own name's.
  for (std::size_t i = 0; i < ui.browser.rows.size(); ++i) {
    act(ui, UiAction::BrowserRowClicked, static_cast<std::uint32_t>(i), kNow + 1000 * static_cast<std::int64_t>(i));
    const std::optional<std::string> chosen = browser_chosen_path(ui.browser);
    if (ui.browser.rows[i].is_link) continue;
    EXPECT_EQ(chosen, canonical(tree.path()) + "/" + ui.browser.rows[i].name);
  }
}

TEST(BrowserKeys, FocusCycleButtonsAndTheList) {
  TempDir tree;
  for (int i = 0; i < 40; ++i) tree.file("f" + std::string(i < 10 ? "0" : "") + std::to_string(i));
  tree.folder("sub/deeper");
  UiState ui;
  ui.fields[kFieldTarget] = tree.path();
  act(ui, UiAction::BrowseTarget);
  ui.browser.visible_rows = 10;  // as the last frame drew it
  press(ui, key(Key::Tab, kModifierShift));
  EXPECT_EQ(ui.browser.focus, BrowserFocus::Use);
  EXPECT_FALSE(ui.focused_field);
  press(ui, key(Key::Tab));
  EXPECT_EQ(ui.browser.focus, BrowserFocus::PathField);
  EXPECT_EQ(ui.focused_field, kFieldBrowserPath);
  press(ui, key(Key::Tab));
  EXPECT_EQ(ui.browser.focus, BrowserFocus::List);
  EXPECT_FALSE(ui.focused_field);

  press(ui, key(Key::Up));
  EXPECT_EQ(ui.browser.selected_row, 0U) << "the first row when none is selected";
  for (int i = 0; i < 12; ++i) press(ui, key(Key::Down));
  EXPECT_EQ(ui.browser.selected_row, 12U);
  EXPECT_EQ(ui.browser.first_row, 3U) << "the selected row stays visible";
  for (int i = 0; i < 8; ++i) press(ui, key(Key::Up));
  EXPECT_EQ(ui.browser.first_row, 3U);
  press(ui, key(Key::Up));
  EXPECT_EQ(ui.browser.first_row, 3U);
  press(ui, key(Key::Up));
  EXPECT_EQ(ui.browser.first_row, 2U);
  for (int i = 0; i < 60; ++i) press(ui, key(Key::Down));
  EXPECT_EQ(ui.browser.selected_row, 40U) << "clamped to the last row";

  press(ui, key(Key::Up));
  for (int i = 0; i < 60; ++i) press(ui, key(Key::Up));
  press(ui, key(Key::Return));  // row 0 is the folder "sub"
  EXPECT_EQ(ui.browser.current_folder, canonical(tree / "sub"));
  press(ui, key(Key::BackSpace));
  EXPECT_EQ(ui.browser.current_folder, canonical(tree.path()));
  EXPECT_EQ(ui.browser.focus, BrowserFocus::List);

  // Focus 2 (Up) and on: Return and space activate the focused control.
  press(ui, key(Key::Tab));
  press(ui, key(Key::Tab));  // Home
  press(ui, key(Key::Tab));  // Show hidden
  press(ui, key(Key::Space));
  EXPECT_TRUE(ui.browser.show_hidden);
  press(ui, key(Key::Tab));
  press(ui, key(Key::Tab));
  press(ui, key(Key::Tab));  // Use, with no row: the current folder
  EXPECT_EQ(ui.browser.focus, BrowserFocus::Use);
  press(ui, typed("x"));
  EXPECT_TRUE(ui.browser.open) << "other keys are ignored";
  press(ui, key(Key::Return));
  EXPECT_FALSE(ui.browser.open);
  EXPECT_EQ(ui.fields[kFieldTarget], canonical(tree.path()));

  act(ui, UiAction::BrowseTarget);
  press(ui, testing::control('b'));
  EXPECT_FALSE(ui.backups_panel.open);
  press(ui, key(Key::Escape));
  EXPECT_FALSE(ui.browser.open);
}

TEST(BrowserKeys, ThePathFieldNavigatesOrUsesAFileDirectly) {
  TempDir tree;
  const std::string file = tree.file("docs/notes.txt", "x");
  tree.folder("docs/inner");
  tree.symlink("docs/link.txt", "notes.txt");
  UiState ui;
  ui.fields[kFieldTarget] = tree.path();
  act(ui, UiAction::BrowseTarget);
  act(ui, UiAction::FocusField, kFieldBrowserPath);
  EXPECT_EQ(ui.browser.focus, BrowserFocus::PathField);
  press(ui, testing::control('a'));
  press(ui, typed("docs"));  // relative to the folder shown
  press(ui, key(Key::Return));
  EXPECT_EQ(ui.browser.current_folder, canonical(tree / "docs"));
  EXPECT_EQ(ui.fields[kFieldBrowserPath], canonical(tree / "docs"));
  EXPECT_EQ(ui.cursor, ui.fields[kFieldBrowserPath].size());

  press(ui, typed("/missing"));
  press(ui, key(Key::Return));
  EXPECT_EQ(ui.browser.message, "Choose an accessible folder to navigate.");
  press(ui, testing::control('a'));
  press(ui, typed("link.txt"));
  press(ui, key(Key::Return));
  EXPECT_TRUE(ui.browser.open) << "a link is never used";
  press(ui, testing::control('a'));
  press(ui, typed("notes.txt"));
  press(ui, key(Key::Return));
  EXPECT_FALSE(ui.browser.open);
  EXPECT_EQ(ui.fields[kFieldTarget], canonical(file));

  // In backup mode a file is navigated to, which fails.
  act(ui, UiAction::BrowseBackupFolder);
  ASSERT_EQ(ui.focused_field, kFieldBrowserPath);
  press(ui, testing::control('a'));
  press(ui, typed(file));
  press(ui, key(Key::Return));
  EXPECT_TRUE(ui.browser.open);
  EXPECT_EQ(ui.browser.message, "Choose an accessible folder to navigate.");

  // While a worker runs, the path field still takes typing, nothing else.
  FakeWorkers workers;
  ui.spawn = workers.spawner();
  ui.fields[kFieldFind] = "x";
  start_preview(ui);
  ASSERT_TRUE(ui.worker.busy());
  press(ui, testing::control('a'));
  press(ui, typed(tree / "docs/inner"));
  press(ui, key(Key::Return));
  EXPECT_EQ(ui.fields[kFieldBrowserPath], tree / "docs/inner");
  EXPECT_EQ(ui.browser.current_folder, canonical(tree / "docs")) << "Return waits for the worker";
}

}  // namespace
}  // namespace tarnwick
