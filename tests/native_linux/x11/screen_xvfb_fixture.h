// The real program under Xvfb as a test fixture: its window found and
// focused, and the few things a person does to it (click, type, press keys,
// copy a field or the review text, take a screenshot).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "xvfb_session.h"

namespace tarnwick::testing {

using namespace std::chrono_literals;

inline constexpr char kTitle[] = "Tarnwick Recursive Renames";

// Window coordinates of the controls at the start size of 1100 x 810.
struct Point {
  int x;
  int y;
};
inline constexpr Point kTargetField{300, 200};
inline constexpr Point kFindField{200, 315};
inline constexpr Point kReplacementField{700, 315};
inline constexpr Point kMatchCase{45, 412};
inline constexpr Point kApplyReviewed{750, 735};
// The review's Copy button: outside every overlay, and no control while a worker runs.
inline constexpr Point kReviewCopy{1030, 693};
inline constexpr Point kConfirmBackupCheckbox{195, 548};
inline constexpr Point kConfirmDestination{400, 610};
inline constexpr Point kConfirmApply{830, 718};
inline constexpr Point kBrowseTarget{1004, 202};
inline constexpr Point kConfirmBrowse{859, 611};
// The folder browser: its first row, a point inside the list, and its Use button.
inline constexpr Point kBrowserFirstRow{300, 207};
inline constexpr Point kBrowserList{400, 300};
inline constexpr Point kBrowserUse{899, 722};
// Longer than the press guard of a freshly opened overlay.
inline constexpr auto kOverlaySettle = std::chrono::milliseconds(700);

inline std::string quoted(const std::string& text) { return "'" + text + "'"; }

class ScreenXvfbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (program_path().empty()) GTEST_SKIP() << "TARNWICK_BINARY is not set";
    ASSERT_TRUE(server_.ok());
    program_.emplace(ChildProcess::start_program(server_.display(), {}, start_arguments()));
    const std::optional<unsigned long> window = wait_for_window(server_, kTitle);
    ASSERT_TRUE(window.has_value()) << program_->captured_output();
    window_ = *window;
    ASSERT_EQ(server_.run("xdotool windowfocus --sync " + std::to_string(window_)), 0);
  }

  void click(Point at) {
    ASSERT_EQ(server_.run("xdotool mousemove --window " + std::to_string(window_) + " " + std::to_string(at.x) + " " +
                          std::to_string(at.y) + " click 1"),
              0);
  }
  // The program's command line.
  virtual std::vector<std::string> start_arguments() const { return {}; }

  // Two presses of button 1 (or wheel turns: button 4 up, 5 down) at one point.
  void click_repeated(Point at, int button, int times, int delay_ms = 80) {
    ASSERT_EQ(server_.run("xdotool mousemove --window " + std::to_string(window_) + " " + std::to_string(at.x) + " " +
                          std::to_string(at.y) + " click --repeat " + std::to_string(times) + " --delay " +
                          std::to_string(delay_ms) + " " + std::to_string(button)),
              0);
  }
  void double_click(Point at) { click_repeated(at, 1, 2); }
  void wheel_down(Point at) { click_repeated(at, 5, 1); }
  void wheel_up(Point at) { click_repeated(at, 4, 1); }
  // Lets a frame be drawn and a freshly opened overlay's press guard pass.
  void settle() { std::this_thread::sleep_for(kOverlaySettle); }
  // A digest of the window's pixels in one rectangle, to tell whether it changed.
  std::string pixels_digest(int x, int y, int width, int height) {
    std::this_thread::sleep_for(150ms);  // the last event's frame
    return server_.output("import -window " + std::to_string(window_) + " -crop " + std::to_string(width) + "x" +
                          std::to_string(height) + "+" + std::to_string(x) + "+" + std::to_string(y) +
                          " rgb:- | md5sum");
  }

  void keys(const std::string& names) { ASSERT_EQ(server_.run("xdotool key --delay 20 " + names), 0); }
  void type(const std::string& text) { ASSERT_EQ(server_.run("xdotool type --delay 10 " + quoted(text)), 0); }
  std::string clipboard() { return server_.output("xclip -o -selection clipboard 2>/dev/null"); }
  void offer_clipboard(const std::string& text) {
    ASSERT_EQ(server_.run("sh -c \"printf %s " + quoted(text) + " | xclip -i -selection clipboard\" >/dev/null 2>&1"),
              0);
  }

  // Replaces a main-screen field's text by select-all and typing.
  void retype(Point field, const std::string& text) {
    click(field);
    keys("ctrl+a BackSpace");
    type(text);
  }

  // Copies the review: Copy also leaves a focused field, and Control+C copies
  // an open dialog's details with the status. Escape is not pressed: it
  // would cancel a running worker.
  void copy_review() {
    server_.run("xdotool mousemove --window " + std::to_string(window_) + " " + std::to_string(kReviewCopy.x) + " " +
                std::to_string(kReviewCopy.y) + " click 1 key ctrl+c");
  }

  // Copies the review text until it contains `needle`.
  std::string wait_for_review(const std::string& needle) {
    std::string text;
    for (int attempt = 0; attempt < 60; ++attempt) {
      copy_review();
      std::this_thread::sleep_for(100ms);
      text = clipboard();
      if (text.find(needle) != std::string::npos) return text;
      std::this_thread::sleep_for(150ms);
    }
    ADD_FAILURE() << "review never showed \"" << needle << "\"; last text:\n" << text;
    return text;
  }

  // Copies a field's whole text. The program may still be working through
  // earlier keys while another client owns the clipboard, so the copy is
  // read again until it shows the expected text or time runs out.
  std::string field_text(Point field, const std::string& expected) {
    click(field);
    keys("ctrl+a ctrl+c");
    std::string text;
    for (int attempt = 0; attempt < 40; ++attempt) {
      std::this_thread::sleep_for(100ms);
      text = clipboard();
      if (text == expected) break;
    }
    return text;
  }

  void screenshot(const std::string& name) { server_.run("import -window root " + artefact_path(name)); }

  XvfbSession server_;
  std::optional<ChildProcess> program_;
  unsigned long window_ = 0;
};

}  // namespace tarnwick::testing
