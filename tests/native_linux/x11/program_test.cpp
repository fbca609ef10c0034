// The real program under Xvfb: start-up refusals, window properties, a
// screenshot, closing, resizing and losing the connection.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <regex>
#include <string>
#include <thread>

#include "xvfb_session.h"

namespace tarnwick::testing {
namespace {

constexpr char kTitle[] = "Tarnwick Recursive Renames";
constexpr auto kQuickExit = std::chrono::seconds(5);

bool exited_with(const std::optional<int>& status, int code) {
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == code;
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (program_path().empty()) GTEST_SKIP() << "TARNWICK_BINARY is not set";
  }
};

TEST_F(ProgramTest, RefusedDisplaysEndAtOnceWithStatusZeroAndPrintNothing) {
  for (const std::optional<std::string>& display :
       {std::optional<std::string>(), std::optional<std::string>("localhost:0"), std::optional<std::string>(":0.1.2"),
        std::optional<std::string>("")}) {
    ChildProcess program = ChildProcess::start_program(display);
    EXPECT_TRUE(exited_with(program.wait(kQuickExit), 0)) << display.value_or("(unset)");
    EXPECT_EQ(program.captured_output(), "") << display.value_or("(unset)");
  }
}

TEST_F(ProgramTest, SixteenBitScreenIsRefusedAfterConnecting) {
  XvfbSession server(16);
  ASSERT_TRUE(server.ok());
  ChildProcess program = ChildProcess::start_program(server.display());
  EXPECT_TRUE(exited_with(program.wait(kQuickExit), 0));
  EXPECT_EQ(program.captured_output(), "");
  EXPECT_EQ(server.output("xdotool search --name Tarnwick"), "");
}

class RunningProgramTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(server_.ok());
    program_.emplace(ChildProcess::start_program(server_.display()));
    const std::optional<unsigned long> window = wait_for_window(server_, kTitle);
    ASSERT_TRUE(window.has_value()) << program_->captured_output();
    window_ = *window;
  }

  std::string property(const std::string& name, const std::string& format = "") {
    return server_.output("xprop -id " + std::to_string(window_) + " " + format + " " + name);
  }

  // The colour of a root-window pixel in a screenshot, as "r,g,b".
  std::string pixel(const std::string& screenshot, int x, int y) {
    return server_.output("convert " + screenshot + " -format '%[fx:int(255*p{" + std::to_string(x) + "," +
                          std::to_string(y) + "}.r)],%[fx:int(255*p{" + std::to_string(x) + "," + std::to_string(y) +
                          "}.g)],%[fx:int(255*p{" + std::to_string(x) + "," + std::to_string(y) + "}.b)]' info:");
  }

  std::string screenshot(const std::string& name) {
    const std::string path = artefact_path(name);
    EXPECT_EQ(server_.run("import -window root " + path), 0);
    return path;
  }

  XvfbSession server_;
  std::optional<ChildProcess> program_;
  unsigned long window_ = 0;
};

TEST_F(RunningProgramTest, WindowPropertiesScreenshotAndCloseRequest) {
  EXPECT_EQ(property("WM_NAME"), "WM_NAME(STRING) = \"Tarnwick Recursive Renames\"\n");
  EXPECT_EQ(property("_NET_WM_NAME"), "_NET_WM_NAME(UTF8_STRING) = \"Tarnwick Recursive Renames\"\n");
  EXPECT_NE(property("WM_NORMAL_HINTS").find("program specified minimum size: 850 by 680"), std::string::npos);
  EXPECT_EQ(property("WM_NORMAL_HINTS").find("maximum size"), std::string::npos);
  EXPECT_NE(property("WM_PROTOCOLS").find("WM_DELETE_WINDOW"), std::string::npos);

  const std::string icon = property("_NET_WM_ICON", "-notype -f _NET_WM_ICON 32c '$0+\\n'");
  std::size_t items = icon.empty() ? 0 : 1;
  for (char c : icon) items += c == ',' ? 1 : 0;
  EXPECT_EQ(items, 4098u);
  EXPECT_EQ(icon.rfind("_NET_WM_ICON64, 64, ", 0), 0u) << icon.substr(0, 40);

  // Without a window manager the window sits at (80, 60) of the root.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::string shot = screenshot("screenshot-foundation.png");
  EXPECT_EQ(pixel(shot, 80 + 500, 60 + 1), "215,43,66");     // top bar
  EXPECT_EQ(pixel(shot, 80 + 500, 60 + 810 - 40), "10,11,14");  // background between panels and footer
  EXPECT_EQ(pixel(shot, 80 + 500, 60 + 130), "48,50,61");    // header rule (tall layout)
  EXPECT_EQ(pixel(shot, 80 + 500, 60 + 810 - 35), "48,50,61");  // footer rule
  EXPECT_NE(pixel(shot, 80 + 22 + 60, 60 + 20 + 38), "10,11,14");  // the logo is drawn

  ASSERT_TRUE(send_delete_window(server_, window_));
  EXPECT_TRUE(exited_with(program_->wait(kQuickExit), 0));
  EXPECT_EQ(program_->captured_output(), "");
}

TEST_F(RunningProgramTest, ResizesToNothingAndBeyondTheLimitKeepItAlive) {
  const std::string id = std::to_string(window_);
  server_.run("xdotool windowsize " + id + " 0 0 2>/dev/null");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(program_->running());
  EXPECT_EQ(server_.run("xdotool windowsize " + id + " 9000 8500"), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(program_->running());
  EXPECT_EQ(server_.run("xdotool windowsize " + id + " 900 700"), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(program_->running());
  // The short layout follows the new size: footer rule at 700 - 35, header rule at 110.
  const std::string shot = screenshot("screenshot-resized.png");
  EXPECT_EQ(pixel(shot, 80 + 400, 60 + 700 - 35), "48,50,61");
  EXPECT_EQ(pixel(shot, 80 + 400, 60 + 110), "48,50,61");
  ASSERT_TRUE(send_delete_window(server_, window_));
  EXPECT_TRUE(exited_with(program_->wait(kQuickExit), 0));
}

TEST_F(RunningProgramTest, DestroyedWindowEndsTheProgram) {
  EXPECT_EQ(server_.run("xdotool windowclose " + std::to_string(window_)), 0);
  EXPECT_TRUE(exited_with(program_->wait(kQuickExit), 0));
}

TEST_F(RunningProgramTest, LostConnectionEndsWithStatusOne) {
  EXPECT_EQ(server_.run("xdotool windowkill " + std::to_string(window_)), 0);
  EXPECT_TRUE(exited_with(program_->wait(kQuickExit), 1));
}

}  // namespace
}  // namespace tarnwick::testing
