// The real program under Xvfb, driven like a person would: typing with
// xdotool, previewing, applying with and without a backup, copying and
// pasting through xclip, and dropping a file from a small XDND source.
#include <gtest/gtest.h>
// Xlib defines None, which gtest uses as a name: include it after gtest.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "screen_xvfb_fixture.h"
#include "support/temp_tree.h"

namespace tarnwick::testing {
namespace {

using namespace std::chrono_literals;

TEST_F(ScreenXvfbTest, PreviewCopyAndApplyWithoutAndWithABackup) {
  TempDir tree;
  tree.file("Tarn_docs/Tarn notes.txt", "Tarn\n");
  tree.file("other.txt", "x");
  TempDir backups;

  retype(kTargetField, tree.path());
  keys("Return");
  const std::string review = wait_for_review("renames /");
  EXPECT_NE(review.find("2 renames / 0 content edits / 4 items scanned\nPage 1 of 1\n\n"), std::string::npos);
  EXPECT_NE(review.find("FOLDER  NAME   1 literal matches\n" + tree.path() + "/Tarn_docs\n> " + tree.path() +
                        "/Tarnwick_docs\n"),
            std::string::npos)
      << review;
  screenshot("main_screen_review.png");

  // Apply with the backup turned off in the confirmation.
  click(kApplyReviewed);
  std::this_thread::sleep_for(kOverlaySettle);
  click(kConfirmBackupCheckbox);
  std::this_thread::sleep_for(100ms);
  screenshot("main_screen_confirmation.png");
  click(kConfirmApply);
  const std::string done = wait_for_review("CHANGES COMPLETE");
  EXPECT_NE(done.find("2 names changed\n0 files edited\n2 literal replacements"), std::string::npos) << done;
  EXPECT_NE(done.find("Automatic backup was turned off for this operation."), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(tree / "Tarnwick_docs/Tarnwick notes.txt"));
  EXPECT_FALSE(std::filesystem::exists(tree / "Tarn_docs"));

  // A second round with the backup on and a destination typed in the dialog.
  retype(kFindField, "Tarnwick");
  retype(kReplacementField, "Tarnwick2");
  keys("Return");
  wait_for_review("renames /");
  click(kApplyReviewed);
  std::this_thread::sleep_for(kOverlaySettle);
  click(kConfirmBackupCheckbox);  // back on
  click(kConfirmDestination);
  type(backups.path());
  std::this_thread::sleep_for(100ms);
  click(kConfirmApply);
  const std::string backed_up = wait_for_review("CHANGES COMPLETE");
  EXPECT_NE(backed_up.find("Originals backed up and verified\n" + backups.path() + "/Tarnwick-backup-"),
            std::string::npos)
      << backed_up;
  EXPECT_TRUE(std::filesystem::exists(tree / "Tarnwick2_docs/Tarnwick2 notes.txt"));
  std::size_t backup_folders = 0;
  for (const auto& entry : std::filesystem::directory_iterator(backups.path())) {
    backup_folders += entry.path().filename().string().starts_with("Tarnwick-backup-") ? 1 : 0;
  }
  EXPECT_EQ(backup_folders, 1U);
}

// Match case off, then Alt+R ticks Preserve case: one preview and apply give
// each case form of the name the replacement in its own case.
TEST_F(ScreenXvfbTest, PreserveCaseRenamesEachCaseFormInOnePass) {
  TempDir tree;
  tree.file("Sympy/sympy.txt", "x");
  tree.file("SymPy.txt", "x");
  tree.file("SYMPY.md", "x");
  tree.file("sympy_core.py", "x");

  retype(kTargetField, tree.path());
  retype(kFindField, "sympy");
  retype(kReplacementField, "MathKit");
  keys("Escape");
  click(kMatchCase);
  keys("alt+r");
  keys("Return");
  const std::string review = wait_for_review("renames /");
  EXPECT_NE(review.find("5 renames /"), std::string::npos) << review;
  EXPECT_NE(review.find("Preserve case is on:"), std::string::npos) << review;
  screenshot("main_screen_preserve_case.png");

  click(kApplyReviewed);
  settle();
  click(kConfirmBackupCheckbox);
  std::this_thread::sleep_for(100ms);
  click(kConfirmApply);
  wait_for_review("CHANGES COMPLETE");
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.path())) {
    names.push_back(std::filesystem::relative(entry.path(), tree.path()).string());
  }
  std::ranges::sort(names);
  EXPECT_EQ(names, (std::vector<std::string>{"MATHKIT.md", "MathKit", "MathKit.txt", "MathKit/mathkit.txt",
                                             "mathkit_core.py"}));
}

// Control+A then Control+V replaces the field's text with the other client's.
TEST_F(ScreenXvfbTest, PasteReplacesTheSelectedTextAndCopyNeedsASelection) {
  offer_clipboard("Invoice");
  click(kFindField);
  keys("ctrl+a ctrl+v");
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(field_text(kFindField, "Invoice"), "Invoice");

  offer_clipboard("-2024");
  click(kFindField);  // the cursor goes to the end
  keys("ctrl+v");
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(field_text(kFindField, "Invoice-2024"), "Invoice-2024");

  const std::string targets = server_.output("xclip -o -selection clipboard -t TARGETS 2>/dev/null");
  EXPECT_EQ(targets, "TARGETS\nUTF8_STRING\nSTRING\n");

  offer_clipboard("unchanged");
  click(kReplacementField);
  keys("ctrl+c");  // without Control+A it copies nothing
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(clipboard(), "unchanged");
}

TEST_F(ScreenXvfbTest, TabAndShiftTabCycleTheFieldsAndEscapeLeavesThem) {
  keys("Tab");
  type("/first");
  keys("Tab ctrl+a");
  type("F");
  keys("shift+Tab shift+Tab ctrl+a");
  type("R");
  EXPECT_EQ(field_text(kTargetField, "/first"), "/first");
  EXPECT_EQ(field_text(kFindField, "F"), "F");
  EXPECT_EQ(field_text(kReplacementField, "R"), "R");
  keys("Escape");
  type("ignored");
  EXPECT_EQ(field_text(kReplacementField, "R"), "R");
}

// A minimal XDND source: offers one uri-list and reports whether it was taken.
class DropSource {
 public:
  explicit DropSource(const std::string& display_name) : display_(XOpenDisplay(display_name.c_str())) {
    if (display_ == nullptr) return;
    window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 1, 1, 0, 0, 0);
  }
  ~DropSource() {
    if (display_ != nullptr) XCloseDisplay(display_);
  }
  DropSource(const DropSource&) = delete;
  DropSource& operator=(const DropSource&) = delete;

  // Returns the accept flags of XdndStatus and XdndFinished, if they came.
  std::pair<std::optional<bool>, std::optional<bool>> drop(unsigned long target, const std::string& uri_list) {
    const Atom selection = atom("XdndSelection");
    const Atom uri_type = atom("text/uri-list");
    XSetSelectionOwner(display_, selection, window_, CurrentTime);
    send(target, "XdndEnter", 5L << 24, static_cast<long>(uri_type), 0, 0);
    send(target, "XdndPosition", 0, (300L << 16) | 300L, CurrentTime, static_cast<long>(atom("XdndActionCopy")));
    std::optional<bool> status;
    std::optional<bool> finished;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!finished && std::chrono::steady_clock::now() < deadline) {
      while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == ClientMessage && event.xclient.message_type == atom("XdndStatus")) {
          status = (event.xclient.data.l[1] & 1) != 0;
          send(target, "XdndDrop", 0, CurrentTime, 0, 0);
        } else if (event.type == ClientMessage && event.xclient.message_type == atom("XdndFinished")) {
          finished = (event.xclient.data.l[1] & 1) != 0;
        } else if (event.type == SelectionRequest) {
          answer(event.xselectionrequest, uri_list);
        }
      }
      std::this_thread::sleep_for(10ms);
    }
    return {status, finished};
  }

 private:
  Atom atom(const char* name) { return XInternAtom(display_, name, False); }

  void send(unsigned long target, const char* type, long l1, long l2, long l3, long l4) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = target;
    event.xclient.message_type = atom(type);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(window_);
    event.xclient.data.l[1] = l1;
    event.xclient.data.l[2] = l2;
    event.xclient.data.l[3] = l3;
    event.xclient.data.l[4] = l4;
    XSendEvent(display_, target, False, NoEventMask, &event);
    XFlush(display_);
  }

  void answer(const XSelectionRequestEvent& request, const std::string& uri_list) {
    XChangeProperty(display_, request.requestor, request.property, request.target, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(uri_list.data()), static_cast<int>(uri_list.size()));
    XEvent reply{};
    reply.xselection.type = SelectionNotify;
    reply.xselection.requestor = request.requestor;
    reply.xselection.selection = request.selection;
    reply.xselection.target = request.target;
    reply.xselection.property = request.property;
    reply.xselection.time = request.time;
    XSendEvent(display_, request.requestor, False, NoEventMask, &reply);
    XFlush(display_);
  }

  Display* display_ = nullptr;
  Window window_ = None;
};

TEST_F(ScreenXvfbTest, ADroppedFileBecomesTheTargetAndARemoteOneIsRefused) {
  TempDir tree;
  const std::string file = tree.file("dropped Tarn.txt", "x");
  DropSource source(server_.display());
  const auto [status, finished] = source.drop(window_, "# one file\r\nfile://" + tree.path() + "/dropped%20Tarn.txt\r\n");
  EXPECT_EQ(status, std::optional<bool>(true));
  EXPECT_EQ(finished, std::optional<bool>(true));
  EXPECT_EQ(field_text(kTargetField, file), file);

  const auto [remote_status, remote_finished] = source.drop(window_, "file://server/share/x\r\n");
  EXPECT_EQ(remote_status, std::optional<bool>(true)) << "the type is acceptable";
  EXPECT_EQ(remote_finished, std::optional<bool>(false));
  EXPECT_NE(wait_for_review("Remote file locations cannot be dropped.").find("OPERATION STOPPED"), std::string::npos);
  EXPECT_EQ(field_text(kTargetField, file), file);
}

// Started as "tarnwick PATH": the path waits in the target field and nothing
// is previewed until asked.
class StartFolderXvfbTest : public ScreenXvfbTest {
 protected:
  std::vector<std::string> start_arguments() const override { return {folder_}; }
  TempDir tree_;
  const std::string folder_ = tree_.folder("Tarn_docs");
  const std::string file_ = tree_.file("Tarn_docs/Tarn notes.txt", "Tarn\n");
};

TEST_F(StartFolderXvfbTest, TheFolderIsTheTargetAndIsPreviewedOnlyWhenAsked) {
  const std::string welcome = wait_for_review("Choose a target");
  EXPECT_EQ(welcome.find("renames /"), std::string::npos) << welcome;
  EXPECT_EQ(field_text(kTargetField, folder_), folder_);
  keys("Escape");
  retype(kFindField, "Tarn");
  retype(kReplacementField, "Tarnwick");
  keys("Return");
  const std::string review = wait_for_review("renames /");
  EXPECT_NE(review.find(file_ + "\n> " + tree_.path() + "/Tarnwick_docs/Tarnwick notes.txt"), std::string::npos)
      << review;
}

// A relative path is made absolute against the program's current folder (the
// test's own); a missing one is taken, and the preview reports it.
class StartMissingPathXvfbTest : public ScreenXvfbTest {
 protected:
  std::vector<std::string> start_arguments() const override {
    return {std::filesystem::relative(missing_, std::filesystem::current_path()).string()};
  }
  TempDir tree_;
  const std::string missing_ = tree_ / "missing folder";
};

TEST_F(StartMissingPathXvfbTest, TheAbsolutePathIsTheTargetAndThePreviewReportsIt) {
  ASSERT_FALSE(start_arguments().front().starts_with('/'));
  EXPECT_EQ(field_text(kTargetField, missing_), missing_);
  keys("Escape");
  retype(kFindField, "x");
  keys("Return");
  const std::string review = wait_for_review("OPERATION STOPPED");
  EXPECT_NE(review.find("Path: " + missing_), std::string::npos) << review;
}

}  // namespace
}  // namespace tarnwick::testing
