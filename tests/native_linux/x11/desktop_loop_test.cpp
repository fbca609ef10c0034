// The real event loop under Xvfb, driven in a forked child with a probe screen:
// the close guard, a destroyed window or a lost connection while a long
// operation runs, and key decoding through the fallback input method.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "engine/channel.h"
#include "native_linux/ui/screen_host.h"
#include "native_linux/x11/desktop.h"
#include "xvfb_session.h"

namespace tarnwick::testing {
namespace {

constexpr char kTitle[] = "Tarnwick Recursive Renames";
constexpr auto kQuickExit = std::chrono::seconds(5);

bool exited_with(const std::optional<int>& status, int code) {
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == code;
}

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// Reports what the loop hands it on standard output. With a worker delay it
// starts a detached "long operation" at attach time that sends its one event
// after that delay, as an apply or backup worker would.
class ProbeScreen final : public Screen {
 public:
  ProbeScreen(std::optional<std::chrono::milliseconds> worker_delay, int refused_closes)
      : worker_delay_(worker_delay), refused_closes_(refused_closes) {}

  void attach(DesktopServices& desktop) override {
    say(desktop.has_input_method() ? "input context" : "no input context");
    if (!worker_delay_) return;
    auto [sender, receiver] = make_channel<int>();
    receiver_ = std::move(receiver);
    std::thread([sender = std::move(sender), delay = *worker_delay_]() mutable {
      std::this_thread::sleep_for(delay);
      std::move(sender).send(42);
    }).detach();
  }
  void draw(Canvas& canvas, Size size) override {
    canvas.fill_rect(Rect{0, 0, size.width, size.height}, palette::kPanel);
  }
  void handle_click(const ClickInput&) override {}
  void handle_key(const DecodedKey& key) override {
    std::string hex;
    for (unsigned char c : key.text) {
      char digits[3];
      std::snprintf(digits, sizeof digits, "%02x", c);
      hex += digits;
    }
    say("key " + hex);
  }
  bool poll_worker() override {
    if (!receiver_) return false;
    std::optional<int> message;
    const PollStatus status = receiver_->try_receive(message);
    if (status == PollStatus::Empty) return false;
    receiver_.reset();
    say(status == PollStatus::Message ? "worker event" : "worker gone");
    return true;
  }
  bool long_operation_running() const override { return receiver_.has_value(); }
  bool request_close() override {
    if (refused_closes_ == 0) return true;
    --refused_closes_;
    say("close refused");
    return false;
  }

 private:
  std::optional<std::chrono::milliseconds> worker_delay_;
  int refused_closes_ = 0;
  std::optional<OneShotReceiver<int>> receiver_;
};

ChildProcess start_loop(const XvfbSession& server, std::optional<std::chrono::milliseconds> worker_delay,
                        int refused_closes = 0) {
  return ChildProcess::fork_running(server.display(), [=] {
    const Result<void> result = run_desktop_with(std::make_unique<ProbeScreen>(worker_delay, refused_closes));
    say(result ? "ended" : "failed: " + result.error());
    return 0;
  });
}

TEST(DesktopLoopTest, CloseGuardKeepsTheWindowUntilTheScreenAgrees) {
  XvfbSession server;
  ASSERT_TRUE(server.ok());
  ChildProcess loop = start_loop(server, std::nullopt, 1);
  const auto window = wait_for_window(server, kTitle);
  ASSERT_TRUE(window);
  ASSERT_TRUE(send_delete_window(server, *window));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(loop.running());
  ASSERT_TRUE(send_delete_window(server, *window));
  EXPECT_TRUE(exited_with(loop.wait(kQuickExit), 0));
  EXPECT_NE(loop.captured_output().find("close refused\nended\n"), std::string::npos) << loop.captured_output();
}

TEST(DesktopLoopTest, DestroyedWindowWaitsForTheLongOperation) {
  XvfbSession server;
  ASSERT_TRUE(server.ok());
  ChildProcess loop = start_loop(server, std::chrono::milliseconds(1500));
  const auto window = wait_for_window(server, kTitle);
  ASSERT_TRUE(window);
  EXPECT_EQ(server.run("xdotool windowclose " + std::to_string(*window)), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_TRUE(loop.running()) << "ended before the worker's event";
  EXPECT_TRUE(exited_with(loop.wait(kQuickExit), 0));
  EXPECT_NE(loop.captured_output().find("worker event\nended\n"), std::string::npos) << loop.captured_output();
}

TEST(DesktopLoopTest, LostConnectionWaitsForTheLongOperationThenEndsWithStatusOne) {
  XvfbSession server;
  ASSERT_TRUE(server.ok());
  ChildProcess loop = start_loop(server, std::chrono::milliseconds(1500));
  const auto window = wait_for_window(server, kTitle);
  ASSERT_TRUE(window);
  EXPECT_EQ(server.run("xdotool windowkill " + std::to_string(*window)), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_TRUE(loop.running()) << "the process ended under a running operation";
  EXPECT_TRUE(exited_with(loop.wait(kQuickExit), 1));
  const std::string output = loop.captured_output();
  EXPECT_NE(output.find("worker event\n"), std::string::npos) << output;
  EXPECT_EQ(output.find("ended"), std::string::npos) << output;
}

TEST(DesktopLoopTest, LostConnectionWithoutLongOperationEndsAtOnce) {
  XvfbSession server;
  ASSERT_TRUE(server.ok());
  ChildProcess loop = start_loop(server, std::nullopt);
  const auto window = wait_for_window(server, kTitle);
  ASSERT_TRUE(window);
  EXPECT_EQ(server.run("xdotool windowkill " + std::to_string(*window)), 0);
  EXPECT_TRUE(exited_with(loop.wait(std::chrono::seconds(2)), 1));
}

// XMODIFIERS names a server that is not running: the built-in method must still
// compose a dead acute and "a" into "á".
TEST(DesktopLoopTest, UnreachableInputMethodServerFallsBackToTheBuiltInOne) {
  XvfbSession server;
  ASSERT_TRUE(server.ok());
  setenv("XMODIFIERS", "@im=no-such-input-method-server", 1);
  setenv("LC_ALL", "C.UTF-8", 1);
  ChildProcess loop = start_loop(server, std::nullopt);
  unsetenv("XMODIFIERS");
  unsetenv("LC_ALL");
  const auto window = wait_for_window(server, kTitle);
  ASSERT_TRUE(window);
  const std::string id = std::to_string(*window);
  // A real key for the dead acute: xdotool's temporary mapping would be gone
  // before the input method looks the key up.
  ASSERT_EQ(server.run("xmodmap -e 'keycode 248 = dead_acute'"), 0);
  EXPECT_EQ(server.run("xdotool windowfocus --sync " + id + " key dead_acute a"), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  ASSERT_TRUE(send_delete_window(server, *window));
  EXPECT_TRUE(exited_with(loop.wait(kQuickExit), 0));
  const std::string output = loop.captured_output();
  EXPECT_EQ(output.rfind("input context\n", 0), 0u) << output;
  EXPECT_NE(output.find("key c3a1\n"), std::string::npos) << output;
}

}  // namespace
}  // namespace tarnwick::testing
